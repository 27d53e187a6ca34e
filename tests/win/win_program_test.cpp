// morlane.exe as a program: one window per group, the picture of the window, the
// version and the usage errors; the resources both programs carry.
#include <gtest/gtest.h>

#include <set>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "records/record_store.h"
#include "support/process.h"
#include "win/single_instance.h"
#include "win/wide_text.h"
#include "win_fixture.h"

namespace morlane::win::test {
namespace {

// A program copied beside the tests by the build.
std::string Program(const char* name = "morlane.exe") {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string own(path);
  return own.substr(0, own.find_last_of("\\/") + 1) + name;
}

// The program in the background, its output and errors in one pipe; ended if still
// running at the end.
class Started {
 public:
  explicit Started(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), Program());
    std::string line;
    for (const std::string& word : arguments) line.append(1, '"').append(word).append("\" ");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    CreatePipe(&output_, &write, &inherit, 1 << 16);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write;
    CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                   &process_);
    CloseHandle(write);
  }
  ~Started() {
    if (!Ended(0)) TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    CloseHandle(output_);
  }
  bool Ended(DWORD ms) {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0;
  }
  DWORD ExitCode() {
    DWORD code = 259;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }
  // What it wrote, once it has ended.
  std::string Output() {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      text.append(buffer, got);
    }
    return text;
  }

 private:
  PROCESS_INFORMATION process_{};
  HANDLE output_ = nullptr;
};

HWND WaitForInstance(const std::string& tag, Started& process, int ms) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (HWND found = FindRunningInstance(tag)) return found;
    if (process.Ended(0)) return nullptr;
    Sleep(20);
  }
  return nullptr;
}

TEST(MorlaneProgram, SecondStartRaisesTheFirstAndEnds) {
  std::string tag = InstanceTag("second");
  Started first({"--simulate", "--service", "--instance-tag", tag});
  HWND window = WaitForInstance(tag, first, 20000);
  ASSERT_NE(window, nullptr);
  // Started in the service view: the console's controls can be seen once it is shown.
  bool consoleShown = false;
  for (int waited = 0; waited < 10000 && !consoleShown; waited += 20) {
    consoleShown = IsWindowVisible(GetDlgItem(window, ctl::kSend));
    if (!consoleShown) Sleep(20);
  }
  EXPECT_TRUE(consoleShown);
  ShowWindow(window, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(window));

  Started second({"--simulate", "--instance-tag", tag});
  ASSERT_TRUE(second.Ended(15000));
  EXPECT_EQ(second.ExitCode(), 0u) << second.Output();
  EXPECT_FALSE(IsIconic(window));
  EXPECT_FALSE(first.Ended(0));
  EXPECT_EQ(FindRunningInstance(tag), window);

  // Closed from outside, it goes through the close command and ends cleanly.
  PostMessageA(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(first.Ended(10000));
  EXPECT_EQ(first.ExitCode(), 0u) << first.Output();
  EXPECT_EQ(FindRunningInstance(tag), nullptr);
}

TEST(MorlaneProgram, ScreenshotIsAPictureOfTheWindow) {
  morlane::test::TempDir dir;
  std::string file = dir.File("window.bmp");
  Started run({"--simulate", "--instance-tag", InstanceTag("picture"), "--screenshot", file});
  ASSERT_TRUE(run.Ended(20000));
  EXPECT_EQ(run.ExitCode(), 0u) << run.Output();
  std::vector<uint8_t> bytes = dir.Read("window.bmp");
  ASSERT_GT(bytes.size(), 54u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), "BM");
  // The client area, wider than high as the template; 24 bits in rows of 4-byte words.
  const int width = bytes[18] | bytes[19] << 8, height = bytes[22] | bytes[23] << 8;
  EXPECT_GT(width, height);
  EXPECT_EQ(bytes.size(), 54u + static_cast<size_t>((width * 3 + 3) & ~3) * height);
  // Not one flat colour: the controls are in it.
  EXPECT_GE(std::set<uint8_t>(bytes.begin() + 54, bytes.end()).size(), 4u);
}

// The station's view: two labels scanned as the window opens, one unit refusing its erase.
// The picture is taken while units run; closing waits for them, and both runs are kept.
TEST(MorlaneProgram, StationViewRunsTheScannedUnitsAndKeepsTheirRuns) {
  morlane::test::TempDir dir;
  dir.Write("master.bin", morlane::test::MakeInverterImage({{0x2010, morlane::test::Words(2, 1)}}));
  dir.Write("slave.bin", morlane::test::MakeInverterImage({{0x0100, morlane::test::Words(2, 2)}}));
  dir.Write("line1.toml", "procedure = \"auto\"\nimages = [ { file = \"master.bin\", sha256 = \"" +
                              FileSha256(dir.File("master.bin")) +
                              "\" }, { file = \"slave.bin\", sha256 = \"" +
                              FileSha256(dir.File("slave.bin")) +
                              "\" } ]\n[[slot]]\nname = \"A\"\nport = \"COM1\"\n[[slot]]\nname = "
                              "\"B\"\nport = \"COM2\"\n");
  Started run({"--station", dir.File("line1.toml"), "--simulate-units", "2", "--simulate-fault",
               "2:refuse-erase", "--scan", "SN1", "--scan", "B SN2", "--screenshot",
               dir.File("station.bmp")});
  ASSERT_TRUE(run.Ended(60000));
  EXPECT_EQ(run.ExitCode(), 0u) << run.Output();
  EXPECT_GT(dir.Read("station.bmp").size(), 54u);
  std::string why;
  std::unique_ptr<RecordStore> store = RecordStore::Open(dir.Path(), RecordStore::Mode::Read, &why);
  ASSERT_TRUE(store) << why;
  std::vector<RunRecord> runs = store->List(RunFilter{}, &why);
  ASSERT_EQ(runs.size(), 2u) << why;
  for (const RunRecord& record : runs) {
    EXPECT_EQ(record.result, record.slot == "A" ? "pass" : "fail") << record.slot;
    EXPECT_EQ(record.unitId, record.slot == "A" ? "SN1" : "SN2");
  }

  Started refused({"--station", dir.File("missing.toml")});
  ASSERT_TRUE(refused.Ended(10000));
  EXPECT_EQ(refused.ExitCode(), 2u);
}

TEST(MorlaneProgram, VersionAndUsageErrors) {
  Started version({"--version"});
  ASSERT_TRUE(version.Ended(10000));
  EXPECT_EQ(version.ExitCode(), 0u);
  EXPECT_EQ(version.Output().substr(0, 11), "morlane 1.0");

  Started wrong({"--no-such-option"});
  ASSERT_TRUE(wrong.Ended(10000));
  EXPECT_EQ(wrong.ExitCode(), 2u);
  EXPECT_NE(wrong.Output().find("no-such-option"), std::string::npos);
}

// What Explorer, the task bar and the loader read from the file: the icon, the version
// the program prints, and the manifest that gives the window today's controls, sharp at
// every monitor's scale.
TEST(MorlaneProgram, BothProgramsCarryIconVersionAndManifest) {
  for (const char* name : {"morlane.exe", "morlane-cli.exe"}) {
    SCOPED_TRACE(name);
    const std::wstring path = Wide(Program(name));
    HMODULE file = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(file, nullptr);
    for (int size : {16, 32, 48, 256}) {
      HANDLE icon = LoadImageW(file, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0);
      EXPECT_NE(icon, nullptr) << size;
      if (icon) DestroyIcon(static_cast<HICON>(icon));
    }
    HRSRC found = FindResourceW(file, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(file, found))),
                               SizeofResource(file, found));
    EXPECT_NE(manifest.find("\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2"), std::string::npos);
    FreeLibrary(file);

    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                  std::to_string(LOWORD(fixed->dwFileVersionMS)),
              MORLANE_VERSION);
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductVersion",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_EQ(Utf8(product), MORLANE_VERSION);
  }
}

}  // namespace
}  // namespace morlane::win::test
