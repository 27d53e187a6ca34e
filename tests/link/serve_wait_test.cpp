// Device waits of the links on the window thread: the window is served between slices,
// while each wait keeps its length and its outcome. A window clock over the virtual
// clock, and a HID device and a serial port whose input arrives at set virtual times.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "link/hid_control.h"
#include "link/serial_link.h"
#include "platform/serve_wait.h"
#include "support/virtual_clock.h"
#include "ui/window_clock.h"

namespace morlane {
namespace {

using Bytes = std::vector<uint8_t>;

class ServingClock : public WindowClock {
 public:
  explicit ServingClock(test::VirtualClock& base) : WindowClock(base) {}
  void SleepMs(int ms) override { base_.SleepMs(ms); }
  bool onWindowThread = true;
  std::vector<int64_t> served;  // virtual time of every serving
  std::function<void()> onServe;

  // The longest stretch from `from` to `to` without a serving.
  int64_t LongestUnserved(int64_t from, int64_t to) const {
    int64_t longest = 0, last = from;
    for (int64_t at : served) {
      longest = std::max(longest, at - last);
      last = at;
    }
    return std::max(longest, to - last);
  }

 protected:
  bool OnWindowThread() const override { return onWindowThread; }
  void ServeWindow() override {
    served.push_back(base_.MonotonicMs());
    if (onServe) onServe();
  }
  int PaintSliceMs() const override { return 20; }
};

// Input reports due at virtual times; a read waits for the next one or its time-out.
class TimedHid : public HidDevice, public HidBackend {
 public:
  explicit TimedHid(test::VirtualClock& clock) : clock_(clock) {}
  std::multimap<int64_t, Bytes> due;
  std::vector<int> readWaits;

  HidCaps Caps() const override { return {65, 69}; }
  int Write(const uint8_t*, int length, int) override { return length; }
  int Read(uint8_t* report, int length, int timeoutMs) override {
    readWaits.push_back(timeoutMs);
    const int64_t now = clock_.MonotonicMs();
    if (due.empty() || due.begin()->first > now + timeoutMs) {
      clock_.Advance(timeoutMs);
      return 0;
    }
    clock_.Advance(std::max<int64_t>(due.begin()->first - now, 0));
    Bytes next = due.begin()->second;
    due.erase(due.begin());
    next.resize(static_cast<size_t>(length), 0);
    std::copy(next.begin(), next.end(), report);
    return length;
  }
  std::vector<HidDeviceInfo> Enumerate() override { return {{"timed", 0x590, 0x4b}}; }
  std::unique_ptr<HidDevice> Open(const std::string&) override;

 private:
  test::VirtualClock& clock_;
};

// Hands the link the one device it owns, forwarding to the test's.
class HidHandle : public HidDevice {
 public:
  explicit HidHandle(TimedHid& device) : device_(device) {}
  HidCaps Caps() const override { return device_.Caps(); }
  int Write(const uint8_t* r, int n, int ms) override { return device_.Write(r, n, ms); }
  int Read(uint8_t* r, int n, int ms) override { return device_.Read(r, n, ms); }

 private:
  TimedHid& device_;
};

std::unique_ptr<HidDevice> TimedHid::Open(const std::string&) {
  return std::make_unique<HidHandle>(*this);
}

class HidWaitTest : public ::testing::Test {
 protected:
  HidWaitTest() { EXPECT_EQ(hid.OpenDevice(0x590, 0x4b), 1); }
  void ReportAt(int64_t ms, const std::string& text) {
    Bytes report{0x00};
    report.insert(report.end(), text.begin(), text.end());
    device.due.emplace(ms, report);
  }

  test::VirtualClock base;
  ServingClock clock{base};
  TimedHid device{base};
  CHIDControl hid{device, clock};
  CHIDControl::Reply reply{};
};

TEST_F(HidWaitTest, WindowIsServedThroughAReadThatKeepsItsWaitsAndOutcome) {
  // Late in the first 500 ms wait: taken, and the read ends there.
  ReportAt(490, "QV1\r");
  EXPECT_EQ(hid.ReadReply(reply), 1);
  EXPECT_EQ(ReplyText(reply), "QV1\r");
  EXPECT_EQ(base.MonotonicMs(), 490);
  EXPECT_LE(clock.LongestUnserved(0, 490), 20);
  for (int wait : device.readWaits) EXPECT_LE(wait, WindowClock::kMostDeviceSliceMs);

  // Late in the sixth wait: five empty waits of 500 ms are five misses, not a hundred.
  clock.served.clear();
  ReportAt(490 + 2990, "late");
  EXPECT_EQ(hid.ReadReply(reply), 1);
  EXPECT_EQ(ReplyText(reply), "late");
  EXPECT_LE(clock.LongestUnserved(490, base.MonotonicMs()), 20);

  // Silence: six waits, 3 s in all, then 0, served throughout.
  clock.served.clear();
  const int64_t start = base.MonotonicMs();
  EXPECT_EQ(hid.ReadReply(reply), 0);
  EXPECT_EQ(base.MonotonicMs() - start, 3000);
  EXPECT_LE(clock.LongestUnserved(start, start + 3000), 20);
}

TEST_F(HidWaitTest, OffTheWindowThreadEachWaitIsOneRead) {
  clock.onWindowThread = false;
  EXPECT_EQ(hid.ReadReply(reply), 0);
  EXPECT_EQ(device.readWaits, std::vector<int>(6, 500));
  EXPECT_TRUE(clock.served.empty());
}

// A serial port whose input and whose room for output come at set virtual times.
class TimedPort : public SerialPort, public SerialPortFactory {
 public:
  explicit TimedPort(test::VirtualClock& clock) : clock_(clock) {}
  std::multimap<int64_t, uint8_t> due;  // input bytes
  int64_t roomAt = 0;                   // the driver takes bytes from then on
  Bytes written;
  std::vector<int> waits;

  bool SetLine(int) override { return true; }
  int QueuedBytes() override { return static_cast<int>(Arrived()); }
  int Read(uint8_t* buffer, int n) override {
    int count = 0;
    while (count < n && Arrived() > 0) {
      buffer[count++] = due.begin()->second;
      due.erase(due.begin());
    }
    return count;
  }
  int Write(const uint8_t* data, int n, int timeoutMs) override {
    waits.push_back(timeoutMs);
    const int64_t now = clock_.MonotonicMs();
    if (roomAt > now + timeoutMs) {
      clock_.Advance(timeoutMs);
      return 0;
    }
    clock_.Advance(std::max<int64_t>(roomAt - now, 0));
    written.insert(written.end(), data, data + n);
    return n;
  }
  bool WaitReadable(int timeoutMs) override {
    waits.push_back(timeoutMs);
    const int64_t now = clock_.MonotonicMs();
    if (due.empty() || due.begin()->first > now + timeoutMs) {
      clock_.Advance(timeoutMs);
      return false;
    }
    clock_.Advance(std::max<int64_t>(due.begin()->first - now, 0));
    return true;
  }
  std::unique_ptr<SerialPort> Open(int, PortOpenError*) override;
  std::string PathOf(int) const override { return "timed"; }

 private:
  size_t Arrived() const {
    size_t n = 0;
    for (auto it = due.begin(); it != due.end() && it->first <= clock_.MonotonicMs(); ++it) ++n;
    return n;
  }
  test::VirtualClock& clock_;
};

class PortHandle : public SerialPort {
 public:
  explicit PortHandle(TimedPort& port) : port_(port) {}
  bool SetLine(int baud) override { return port_.SetLine(baud); }
  int QueuedBytes() override { return port_.QueuedBytes(); }
  int Read(uint8_t* b, int n) override { return port_.Read(b, n); }
  int Write(const uint8_t* d, int n, int ms) override { return port_.Write(d, n, ms); }
  bool WaitReadable(int ms) override { return port_.WaitReadable(ms); }

 private:
  TimedPort& port_;
};

std::unique_ptr<SerialPort> TimedPort::Open(int, PortOpenError*) {
  return std::make_unique<PortHandle>(*this);
}

class SerialWaitTest : public ::testing::Test {
 protected:
  SerialWaitTest() { EXPECT_EQ(serial.Open(1, 9600), 1); }
  void LineAt(int64_t ms, const std::string& text) {
    for (char c : text) port.due.emplace(ms, static_cast<uint8_t>(c));
  }

  test::VirtualClock base;
  ServingClock clock{base};
  TimedPort port{base};
  CSerialLink serial{port, clock};
  uint8_t line[128] = {};
};

TEST_F(SerialWaitTest, WindowIsServedThroughLineReadsAndWritesThatKeepTheirOutcome) {
  // An answer line late in its two seconds is still read.
  LineAt(1400, "V2\r");
  EXPECT_EQ(serial.ReadLine(line, 128, 2), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(line), 3), "V2\r");
  EXPECT_LE(clock.LongestUnserved(0, 1400), 20);
  for (int wait : port.waits) EXPECT_LE(wait, WindowClock::kMostDeviceSliceMs);

  // No answer: the calendar clock still ends the read, as before.
  const int64_t start = base.MonotonicMs();
  EXPECT_EQ(serial.ReadLine(line, 128, 2), 0);
  EXPECT_GE(base.MonotonicMs() - start, 1000);
  EXPECT_LE(base.MonotonicMs() - start, 2100);
  EXPECT_LE(clock.LongestUnserved(start, base.MonotonicMs()), 20);

  // A driver with no room for 300 ms: the frame goes out whole, once, in order.
  clock.served.clear();
  port.roomAt = base.MonotonicMs() + 300;
  const uint8_t frame[4] = {0x01, 0x66, 0x99, 0x07};
  EXPECT_EQ(serial.WriteBytes(frame, 4), 1);
  EXPECT_EQ(port.written, Bytes(frame, frame + 4));
  EXPECT_EQ(base.MonotonicMs(), port.roomAt);
  EXPECT_LE(clock.LongestUnserved(port.roomAt - 300, port.roomAt), 20);

  // A byte the driver never takes is given up after its 1000 ms; the next follows.
  port.roomAt = base.MonotonicMs() + 1500;
  const int64_t sending = base.MonotonicMs();
  EXPECT_EQ(serial.SendBytes(frame, 2), 2);
  EXPECT_EQ(base.MonotonicMs() - sending, 1500);
  EXPECT_EQ(port.written, Bytes({0x01, 0x66, 0x99, 0x07, 0x66}));
}

TEST_F(SerialWaitTest, OffTheWindowThreadWaitsStayWhole) {
  clock.onWindowThread = false;
  EXPECT_EQ(serial.ReadLine(line, 128, 1), 0);
  for (int wait : port.waits) EXPECT_EQ(wait, 50);
  port.waits.clear();
  const uint8_t byte = 0x41;
  EXPECT_EQ(serial.WriteBytes(&byte, 1), 1);
  EXPECT_EQ(port.waits, std::vector<int>{5000});
  EXPECT_TRUE(clock.served.empty());
}

// "Send" while the command test's worker holds the link through its exchange: the window
// is served until the worker lets go.
TEST(LockServingTest, WindowIsServedUntilTheHolderLetsGo) {
  test::VirtualClock base;
  ServingClock clock{base};
  std::mutex link;
  std::atomic<int> servings{0};
  clock.onServe = [&servings] { ++servings; };
  std::atomic<bool> holding{false};
  std::thread worker([&link, &holding, &servings] {
    std::lock_guard held(link);
    holding = true;
    while (servings.load() < 3) std::this_thread::yield();
  });
  while (!holding.load()) std::this_thread::yield();
  std::unique_lock lock = LockServing(link, clock);
  EXPECT_TRUE(lock.owns_lock());
  EXPECT_GE(servings.load(), 3);
  worker.join();
}

}  // namespace
}  // namespace morlane
