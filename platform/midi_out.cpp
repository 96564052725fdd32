// MIDI output over RtMidi (ALSA sequencer) plus the scripted recording devices.
#include "platform/midi_out.h"

#include <rtmidi/RtMidi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/handoff_queue.h"
#include "platform/realtime.h"

namespace plat {

class MidiOutDevice {
 public:
  virtual ~MidiOutDevice() = default;
  virtual int Short(const uint8_t* bytes, size_t n) = 0;
  virtual int Long(const uint8_t* bytes, size_t n) = 0;
  virtual bool LongDone() = 0;
  virtual int Reset() = 0;
  virtual std::string LastError() = 0;
};

namespace {

size_t ShortLength(uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) return 3;
  if (status < 0xE0) return 2;
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  return 1;
}

// ---- real devices -------------------------------------------------------------------------

// Once an error callback is set, RtMidi reports a failed send (an ALSA error, a message it cannot
// encode) only through that callback and returns as if it had sent. The callback of an open
// device writes here, so the send can be answered with a failure.
struct RtMidiErrorSink {
  bool failed = false;
  std::string text;
};

void KeepRtMidiError(RtMidiError::Type, const std::string& text, void* sink) {
  auto* s = static_cast<RtMidiErrorSink*>(sink);
  s->failed = true;
  s->text = text;
}

class RtMidiDevice final : public MidiOutDevice {
 public:
  explicit RtMidiDevice(std::unique_ptr<RtMidiOut> out) : out_(std::move(out)) {
    out_->setErrorCallback(&KeepRtMidiError, &sink_);
  }
  int Short(const uint8_t* bytes, size_t n) override { return Send(bytes, n); }
  int Long(const uint8_t* bytes, size_t n) override { return Send(bytes, n); }
  bool LongDone() override { return true; }  // RtMidi hands the bytes over before returning
  int Reset() override { return kMidiOk; }
  std::string LastError() override {
    std::lock_guard lock(mu_);
    return lastError_;
  }

 private:
  int Send(const uint8_t* bytes, size_t n) {
    std::lock_guard lock(mu_);
    sink_.failed = false;
    try {
      out_->sendMessage(bytes, n);
    } catch (const RtMidiError& e) {
      sink_.failed = true;
      sink_.text = e.getMessage();
    }
    if (!sink_.failed) return kMidiOk;
    lastError_ = sink_.text;
    return kMidiError;
  }
  std::mutex mu_;
  std::unique_ptr<RtMidiOut> out_;
  RtMidiErrorSink sink_;   // under mu_ (the callback runs inside sendMessage)
  std::string lastError_;  // under mu_
};

// The enumerator and a port being opened: their results tell.
void QuietRtMidiErrors(RtMidiError::Type, const std::string&, void*) {}

std::unique_ptr<RtMidiOut> NewRtMidiOut() {
  try {
    auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, "Tavelo");
    out->setErrorCallback(&QuietRtMidiErrors, nullptr);
    return out;
  } catch (const RtMidiError&) {
    return nullptr;
  }
}

// ---- scripted devices ---------------------------------------------------------------------

class RecordingDevice;

// A recorded line of a real-time thread waits here for the record writer: the sender stamps the
// time and returns without touching the file. Lines of a device are written in their order: an
// ordinary sender, the writer and a closing device first write what waits (under g_recordDrain).
struct QueuedRecord {
  RecordingDevice* device = nullptr;
  uint16_t length = 0;
  char text[110];
  std::string* longText = nullptr;  // a line too long for the cell (SysEx); owned while queued
};
HandoffQueue<QueuedRecord, 8192>& g_records = *new HandoffQueue<QueuedRecord, 8192>;
std::mutex& g_recordDrain = *new std::mutex;
std::counting_semaphore<1 << 30>& g_recordWake = *new std::counting_semaphore<1 << 30>(0);
std::once_flag g_recordWriterStarted;

void DrainRecordsLocked();

void RecordWriterThread() {
  for (;;) {
    g_recordWake.acquire();
    std::lock_guard lock(g_recordDrain);
    DrainRecordsLocked();
  }
}

class RecordingDevice final : public MidiOutDevice {
 public:
  RecordingDevice(const FakeMidiOutDevice& device, std::string tag)
      : tag_(std::move(tag)),
        holdsSysEx_(device.holdsSysEx),
        sendError_(device.sendError),
        failingBytes_(device.failingBytes) {
    if (!device.recordFile.empty()) file_ = std::fopen(device.recordFile.c_str(), "ab");
  }
  ~RecordingDevice() override {
    std::lock_guard lock(g_recordDrain);
    DrainRecordsLocked();
    if (file_) std::fclose(file_);
  }
  void WriteLine(const char* text, size_t n) {
    std::fwrite(text, 1, n, file_);
    std::fflush(file_);
  }
  int Short(const uint8_t* bytes, size_t n) override {
    if (Refuses(bytes, n)) return sendError_;
    Record(bytes, n, nullptr);
    return kMidiOk;
  }
  int Long(const uint8_t* bytes, size_t n) override {
    if (Refuses(bytes, n)) return sendError_;
    Record(bytes, n, nullptr);
    if (holdsSysEx_) {
      std::lock_guard lock(mu_);
      busy_ = true;
    }
    return kMidiOk;
  }
  bool LongDone() override {
    std::lock_guard lock(mu_);
    return !busy_;
  }
  std::string LastError() override {
    std::lock_guard lock(mu_);
    return refused_ ? "scripted send failure " + std::to_string(sendError_) : std::string();
  }
  int Reset() override {
    Record(nullptr, 0, "reset");
    std::lock_guard lock(mu_);
    busy_ = false;
    return kMidiOk;
  }

 private:
  void Record(const uint8_t* bytes, size_t n, const char* word) {
    if (!file_) return;
    static const char kHex[] = "0123456789ABCDEF";
    if (OnRealtimeThread()) {
      QueuedRecord r;
      r.device = this;
      int len = std::snprintf(r.text, sizeof r.text, "%llu %s%s%s", static_cast<unsigned long long>(NowUs()),
                              tag_.c_str(), word ? " " : "", word ? word : "");
      size_t at = len > 0 ? static_cast<size_t>(len) : 0;
      if (at + n * 3 + 1 < sizeof r.text) {
        for (size_t i = 0; i < n; ++i) {
          r.text[at++] = ' ';
          r.text[at++] = kHex[bytes[i] >> 4];
          r.text[at++] = kHex[bytes[i] & 15];
        }
        r.text[at++] = '\n';
        r.length = static_cast<uint16_t>(at);
      } else {
        // A long SysEx: rare, and its text is made here.
        r.longText = new std::string(r.text, std::min(at, sizeof r.text - 1));
        for (size_t i = 0; i < n; ++i) {
          *r.longText += ' ';
          *r.longText += kHex[bytes[i] >> 4];
          *r.longText += kHex[bytes[i] & 15];
        }
        *r.longText += '\n';
      }
      std::call_once(g_recordWriterStarted, [] { std::thread(RecordWriterThread).detach(); });
      if (g_records.TryPush(r))
        g_recordWake.release();
      else
        delete r.longText;
      return;
    }
    char head[64];
    int len = std::snprintf(head, sizeof head, "%llu %s",
                            static_cast<unsigned long long>(NowUs()), tag_.c_str());
    std::string line(head, len > 0 ? static_cast<size_t>(len) : 0);
    line.reserve(line.size() + n * 3 + 8);
    if (word) {
      line += ' ';
      line += word;
    }
    for (size_t i = 0; i < n; ++i) {
      line += ' ';
      line += kHex[bytes[i] >> 4];
      line += kHex[bytes[i] & 15];
    }
    line += '\n';
    std::lock_guard lock(g_recordDrain);
    DrainRecordsLocked();
    WriteLine(line.data(), line.size());
  }

  std::mutex mu_;
  std::FILE* file_ = nullptr;
  std::string tag_;
  bool Refuses(const uint8_t* bytes, size_t n) {
    if (sendError_ == kMidiOk) return false;
    if (!failingBytes_.empty() &&
        std::string_view(reinterpret_cast<const char*>(bytes), n).find(failingBytes_) == std::string_view::npos)
      return false;
    std::lock_guard lock(mu_);
    refused_ = true;
    return true;
  }

  bool holdsSysEx_;
  int sendError_;
  std::string failingBytes_;
  bool refused_ = false;  // under mu_
  bool busy_ = false;
};

void DrainRecordsLocked() {
  QueuedRecord r;
  while (g_records.TryPop(r)) {
    if (r.longText) {
      r.device->WriteLine(r.longText->data(), r.longText->size());
      delete r.longText;
    } else {
      r.device->WriteLine(r.text, r.length);
    }
  }
}

std::vector<FakeMidiOutDevice> ParseFakeDevices(const char* text) {
  std::vector<FakeMidiOutDevice> out;
  if (!text) return out;
  std::wstring all = Utf8BytesToWide(text);
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t end = all.find(L';', pos);
    if (end == std::wstring::npos) end = all.size();
    std::wstring entry = all.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    FakeMidiOutDevice dev;
    constexpr std::wstring_view kHold = L"~hold";
    if (entry.size() > kHold.size() && entry.compare(entry.size() - kHold.size(), kHold.size(), kHold) == 0) {
      dev.holdsSysEx = true;
      entry.resize(entry.size() - kHold.size());
    }
    if (size_t bang = entry.rfind(L'!'); bang != std::wstring::npos) {
      dev.openError = static_cast<int>(std::wcstol(entry.c_str() + bang + 1, nullptr, 10));
      entry.resize(bang);
    }
    if (size_t eq = entry.find(L'='); eq != std::wstring::npos) {
      dev.recordFile = std::filesystem::path(WideToUtf8Bytes(entry.substr(eq + 1)));
      entry.resize(eq);
    }
    dev.name = entry;
    out.push_back(std::move(dev));
  }
  return out;
}

struct ListedDevice {
  bool fake = false;
  unsigned realIndex = 0;
  FakeMidiOutDevice device;  // the fake device, or the real device's name in device.name
};

struct DeviceRegistry {
  std::mutex mu;
  bool fakesLoaded = false;
  std::vector<FakeMidiOutDevice> fakes;
  bool enumeratorTried = false;
  std::unique_ptr<RtMidiOut> enumerator;
  std::vector<ListedDevice> look;

  void LoadFakesOnce() {
    if (fakesLoaded) return;
    fakesLoaded = true;
    fakes = ParseFakeDevices(std::getenv("TAVELO_MIDI_OUT"));
  }
};

DeviceRegistry& Registry() {
  static DeviceRegistry* r = new DeviceRegistry;  // lives to the end of the process
  return *r;
}

std::filesystem::path RecordFileOf(const FakeMidiOutDevice& d) {
  if (!d.recordFile.empty()) return d.recordFile;
  constexpr std::wstring_view kPrefix = L"record:";
  if (d.name.size() > kPrefix.size() && d.name.compare(0, kPrefix.size(), kPrefix) == 0)
    return std::filesystem::path(WideToUtf8Bytes(std::wstring_view(d.name).substr(kPrefix.size())));
  return {};
}

}  // namespace

unsigned MidiOutDeviceCount() {
  DeviceRegistry& r = Registry();
  std::lock_guard lock(r.mu);
  r.LoadFakesOnce();
  if (!r.enumeratorTried) {
    r.enumeratorTried = true;
    r.enumerator = NewRtMidiOut();
  }
  r.look.clear();
  if (r.enumerator) {
    unsigned n = 0;
    try {
      n = r.enumerator->getPortCount();
    } catch (const RtMidiError&) {
      n = 0;
    }
    for (unsigned i = 0; i < n; ++i) {
      ListedDevice d;
      d.realIndex = i;
      try {
        d.device.name = Utf8BytesToWide(r.enumerator->getPortName(i));
      } catch (const RtMidiError&) {
        d.device.namesUnreadable = true;
      }
      r.look.push_back(std::move(d));
    }
  }
  for (const auto& f : r.fakes) {
    ListedDevice d;
    d.fake = true;
    d.device = f;
    r.look.push_back(std::move(d));
  }
  return static_cast<unsigned>(r.look.size());
}

bool MidiOutDeviceName(unsigned index, std::wstring* name) {
  DeviceRegistry& r = Registry();
  std::lock_guard lock(r.mu);
  if (index >= r.look.size() || r.look[index].device.namesUnreadable) return false;
  if (name) *name = r.look[index].device.name;
  return true;
}

int MidiOutOpen(unsigned index, std::string_view tag, MidiOutDevice** out) {
  if (!out) return kMidiInvalidParam;
  *out = nullptr;
  ListedDevice d;
  {
    DeviceRegistry& r = Registry();
    std::lock_guard lock(r.mu);
    if (index >= r.look.size()) return kMidiBadDeviceId;
    d = r.look[index];
  }
  if (d.fake) {
    if (d.device.openError != kMidiOk) return d.device.openError;
    FakeMidiOutDevice device = d.device;
    device.recordFile = RecordFileOf(d.device);
    *out = new (std::nothrow) RecordingDevice(device, std::string(tag));
    return *out ? kMidiOk : kMidiNoMemory;
  }
  std::unique_ptr<RtMidiOut> port = NewRtMidiOut();
  if (!port) return kMidiNoDriver;
  try {
    if (d.realIndex >= port->getPortCount()) return kMidiBadDeviceId;
    port->openPort(d.realIndex, "Tavelo " + std::string(tag));
  } catch (const RtMidiError& e) {
    return e.getType() == RtMidiError::INVALID_PARAMETER ? kMidiBadDeviceId : kMidiAllocated;
  }
  if (!port->isPortOpen()) return kMidiAllocated;
  *out = new (std::nothrow) RtMidiDevice(std::move(port));
  return *out ? kMidiOk : kMidiNoMemory;
}

int MidiOutClose(MidiOutDevice* dev) {
  if (!dev) return kMidiInvalidHandle;
  delete dev;
  return kMidiOk;
}

int MidiOutShortMsg(MidiOutDevice* dev, uint32_t message) {
  if (!dev) return kMidiInvalidHandle;
  const uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                            static_cast<uint8_t>(message >> 16)};
  size_t n = ShortLength(bytes[0]);
  if (n == 0) return kMidiInvalidParam;
  return dev->Short(bytes, n);
}

int MidiOutLongMsg(MidiOutDevice* dev, const uint8_t* bytes, size_t length) {
  if (!dev) return kMidiInvalidHandle;
  if (!bytes || length == 0) return kMidiInvalidParam;
  return dev->Long(bytes, length);
}

bool MidiOutLongDone(MidiOutDevice* dev) { return !dev || dev->LongDone(); }

int MidiOutReset(MidiOutDevice* dev) {
  if (!dev) return kMidiInvalidHandle;
  return dev->Reset();
}

std::string MidiOutLastError(MidiOutDevice* dev) { return dev ? dev->LastError() : std::string(); }

void SetFakeMidiOutDevices(std::vector<FakeMidiOutDevice> devices) {
  DeviceRegistry& r = Registry();
  std::lock_guard lock(r.mu);
  r.fakesLoaded = true;
  r.fakes = std::move(devices);
}

void FlushMidiRecords() {
  std::lock_guard lock(g_recordDrain);
  DrainRecordsLocked();
}

}  // namespace plat
