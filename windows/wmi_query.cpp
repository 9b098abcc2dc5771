#include "wmi_query.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstring>

#include "command_deadline.h"
#include "command_runner.h"

namespace kolvex {

namespace {

constexpr int kValueTextSize = 64;

// Releases a COM interface when it goes out of scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** slot() { return &p_; }
  void** voidSlot() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : s_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(s_); }
  BSTR get() const { return s_; }

 private:
  BSTR s_;
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }
  VARIANT* get() { return &v_; }

 private:
  VARIANT v_;
};

int QueryFirstValue(const WmicQuery& query, char* out) {
  ComRef<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              locator.voidSlot())))
    return -1;

  Bstr space(L"ROOT\\CIMV2");
  if (space.get() == nullptr) return -1;
  ComRef<IWbemServices> services;
  if (FAILED(locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                    services.slot())))
    return -1;
  // Set on the proxy rather than process-wide through CoInitializeSecurity,
  // which belongs to the program that hosts this code.
  if (FAILED(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                               EOAC_NONE)))
    return -1;

  Bstr language(L"WQL");
  Bstr statement(query.wmiStatement);
  if (language.get() == nullptr || statement.get() == nullptr) return -1;
  ComRef<IEnumWbemClassObject> objects;
  if (FAILED(services->ExecQuery(language.get(), statement.get(),
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 objects.slot())))
    return -1;

  // A stuck WMI service must not hold the run longer than wmic may take.
  ComRef<IWbemClassObject> first;
  ULONG returned = 0;
  if (objects->Next(CommandTimeoutMs(), 1, first.slot(), &returned) != WBEM_S_NO_ERROR ||
      returned != 1 || first.get() == nullptr)
    return -1;

  Variant value;
  if (FAILED(first->Get(query.wmiProperty, 0, value.get(), nullptr, nullptr))) return -1;
  if (V_VT(value.get()) != VT_BSTR || V_BSTR(value.get()) == nullptr) return -1;

  // wmic shows the value as text of the console code page; identifiers are
  // ASCII, so the same narrowing as for its UTF-16 output applies.
  char narrow[kValueTextSize];
  std::memset(narrow, 0, sizeof narrow);
  const BSTR wide = V_BSTR(value.get());
  for (int i = 0; i < kValueTextSize - 1 && wide[i] != L'\0'; ++i)
    narrow[i] = NarrowUnit(static_cast<unsigned>(wide[i]));
  return CopyFirstValue(narrow, out, query.most) > 0 ? 0 : -1;
}

}  // namespace

int ReadWmiValue(const WmicQuery& query, char* out) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // S_OK and S_FALSE both take a reference that we give back. A thread
  // already in a single-threaded apartment answers RPC_E_CHANGED_MODE; COM
  // is usable there and stays the caller's to close.
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) return -1;
  const int result = QueryFirstValue(query, out);
  if (SUCCEEDED(init)) CoUninitialize();
  return result;
}

}  // namespace kolvex
