// A child for the command-runner tests: writes what its arguments ask for,
// in order, straight to its standard handles.
//   out TEXT | err TEXT | fill N | file PATH | exit CODE | sleep MS
//   | spawn MS (a copy of itself that sleeps MS holding the standard
//   handles; its process id is written to standard output)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Write(DWORD which, const char* bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(GetStdHandle(which), bytes, count, &written, nullptr) && written == count;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* what = argv[i];
    const char* arg = argv[i + 1];
    if (std::strcmp(what, "out") == 0) {
      Write(STD_OUTPUT_HANDLE, arg, static_cast<DWORD>(std::strlen(arg)));
    } else if (std::strcmp(what, "err") == 0) {
      Write(STD_ERROR_HANDLE, arg, static_cast<DWORD>(std::strlen(arg)));
    } else if (std::strcmp(what, "fill") == 0) {
      char block[4096];
      std::memset(block, 'x', sizeof block);
      for (long left = std::atol(arg); left > 0; left -= static_cast<long>(sizeof block)) {
        const DWORD n =
            left < static_cast<long>(sizeof block) ? static_cast<DWORD>(left) : sizeof block;
        if (!Write(STD_OUTPUT_HANDLE, block, n)) return 3;  // the reader has gone
      }
    } else if (std::strcmp(what, "file") == 0) {
      std::FILE* f = std::fopen(arg, "rb");
      if (f == nullptr) return 4;
      char block[4096];
      size_t n = 0;
      while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        Write(STD_OUTPUT_HANDLE, block, static_cast<DWORD>(n));
      std::fclose(f);
    } else if (std::strcmp(what, "sleep") == 0) {
      Sleep(static_cast<DWORD>(std::atol(arg)));
    } else if (std::strcmp(what, "spawn") == 0) {
      char self[MAX_PATH] = {};
      GetModuleFileNameA(nullptr, self, MAX_PATH);
      char line[MAX_PATH + 64];
      std::snprintf(line, sizeof line, "\"%s\" sleep %s", self, arg);
      STARTUPINFOA startup;
      std::memset(&startup, 0, sizeof startup);
      startup.cb = sizeof startup;
      PROCESS_INFORMATION child;
      if (!CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &child))
        return 5;
      char id[16];
      std::snprintf(id, sizeof id, "%lu", static_cast<unsigned long>(child.dwProcessId));
      Write(STD_OUTPUT_HANDLE, id, static_cast<DWORD>(std::strlen(id)));
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
    } else if (std::strcmp(what, "exit") == 0) {
      return std::atoi(arg);
    }
  }
  return 0;
}
