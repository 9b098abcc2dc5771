#include "wmi_query.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstring>
#include <new>

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

int QueryFirstValue(const WmicQuery& query, char* text, int size) {
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

  // The caller's wait bounds the query as a whole; this bound only keeps a
  // worker whose caller has stopped waiting from waiting here for good.
  ComRef<IWbemClassObject> first;
  ULONG returned = 0;
  const HRESULT next = objects->Next(CommandTimeoutMs(), 1, first.slot(), &returned);
  if (next == WBEM_S_FALSE && returned == 0) return 1;  // no object: an answer all the same
  if (next != WBEM_S_NO_ERROR || returned != 1 || first.get() == nullptr) return -1;

  Variant value;
  if (FAILED(first->Get(query.wmiProperty, 0, value.get(), nullptr, nullptr))) return -1;
  if (V_VT(value.get()) == VT_NULL || V_VT(value.get()) == VT_EMPTY) return 1;
  if (V_VT(value.get()) != VT_BSTR || V_BSTR(value.get()) == nullptr) return -1;

  // wmic shows the value as text of the console code page; identifiers are
  // ASCII, so the same narrowing as for its UTF-16 output applies.
  const BSTR wide = V_BSTR(value.get());
  int n = 0;
  for (; n < size - 1 && wide[n] != L'\0'; ++n)
    text[n] = NarrowUnit(static_cast<unsigned>(wide[n]));
  text[n] = '\0';
  return 0;
}

WmiReader g_reader = QueryFirstValue;

// One query on the worker thread. The caller and the worker each hold a
// reference; whoever lets go last frees it, so a worker that outlives the
// caller's wait still writes only into memory of its own.
struct WmiJob {
  LONG references;
  HMODULE module;  // held by the worker, so that its code stays loaded
  WmicQuery query;
  WmiReader reader;
  int result;
  char text[kValueTextSize];
};

void Release(WmiJob* job) {
  if (InterlockedDecrement(&job->references) == 0) delete job;
}

DWORD WINAPI RunWmiJob(void* parameter) {
  WmiJob* job = static_cast<WmiJob*>(parameter);
  // The thread is ours, so is its apartment.
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(init)) {
    job->result = job->reader(job->query, job->text, kValueTextSize);
    CoUninitialize();
  }
  const HMODULE module = job->module;
  Release(job);
  if (module != nullptr) FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

WmiReader ReplaceWmiReader(WmiReader reader) {
  const WmiReader before = g_reader;
  g_reader = reader;
  return before;
}

int ReadWmiValue(const WmicQuery& query, char* out, int timeoutMs) {
  WmiJob* job = new (std::nothrow) WmiJob{2, nullptr, query, g_reader, -1, {}};
  if (job == nullptr) return -1;
  // A client may unload a library holding this code while a worker it gave
  // up on still runs; the worker's own reference keeps the code there.
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&RunWmiJob),
                     &job->module);
  HANDLE worker = CreateThread(nullptr, 0, RunWmiJob, job, 0, nullptr);
  if (worker == nullptr) {
    if (job->module != nullptr) FreeLibrary(job->module);
    delete job;
    return -1;
  }
  const DWORD waited =
      WaitForSingleObject(worker, timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0);
  CloseHandle(worker);
  int result = kWmiTimedOut;
  if (waited == WAIT_OBJECT_0) {  // the worker has let go; what it wrote is final
    if (job->result == 0 && CopyFirstValue(job->text, out, query.most) > 0)
      result = 0;
    else if (job->result == 0 || job->result == kWmiNoValue)
      result = kWmiNoValue;
    else
      result = -1;
  }
  Release(job);
  return result;
}

}  // namespace kolvex
