// Stand-in for wmic.exe, placed beside the program under test: prints the
// recorded output <class>.out from its own folder byte for byte (nothing
// when there is none), <class>.err on its standard error, and notes every
// command line in wmic-calls.log. With <class>.hang beside it, it then never
// exits, as wmic does on a damaged repository, and beats into <class>.beat
// while it lives.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Writes the recorded file to a standard handle; false when there is none.
bool Replay(const std::string& path, DWORD handle) {
  std::FILE* recorded = std::fopen(path.c_str(), "rb");
  if (recorded == nullptr) return false;
  char block[4096];
  size_t n = 0;
  DWORD written = 0;
  while ((n = std::fread(block, 1, sizeof block, recorded)) > 0)
    WriteFile(GetStdHandle(handle), block, static_cast<DWORD>(n), &written, nullptr);
  std::fclose(recorded);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string folder(self);
  folder.erase(folder.find_last_of("\\/") + 1);

  if (std::FILE* log = std::fopen((folder + "wmic-calls.log").c_str(), "ab")) {
    std::fprintf(log, "%s\n", GetCommandLineA());
    std::fclose(log);
  }
  if (argc < 2) return 1;
  std::string name(argv[1]);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  // wmic's error reports go to its standard error.
  Replay(folder + name + ".err", STD_ERROR_HANDLE);
  if (!Replay(folder + name + ".out", STD_OUTPUT_HANDLE)) return 0;
  if (std::FILE* hang = std::fopen((folder + name + ".hang").c_str(), "rb")) {
    std::fclose(hang);
    // A heartbeat in <class>.beat, so the test sees whether it was ended.
    for (;;) {
      if (std::FILE* beat = std::fopen((folder + name + ".beat").c_str(), "ab")) {
        std::fputc('.', beat);
        std::fclose(beat);
      }
      Sleep(100);
    }
  }
  return 0;
}
