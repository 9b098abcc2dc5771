// Stand-in for wmic.exe, placed beside the program under test: prints the
// recorded output <class>.out from its own folder byte for byte (nothing
// when there is none) and notes every command line in wmic-calls.log. With
// <class>.hang beside it, it then never exits, as wmic does on a damaged
// repository, and beats into <class>.beat while it lives.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

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

  std::FILE* recorded = std::fopen((folder + name + ".out").c_str(), "rb");
  if (recorded == nullptr) return 0;
  char block[4096];
  size_t n = 0;
  DWORD written = 0;
  while ((n = std::fread(block, 1, sizeof block, recorded)) > 0)
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), block, static_cast<DWORD>(n), &written, nullptr);
  std::fclose(recorded);
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
