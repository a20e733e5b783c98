// WindowsTextConverterLibrary over LoadLibraryA/GetProcAddress, GlobalAlloc
// and friends, event objects and OLE.
#include "hosts/windows/windows_text_converters.h"

#include <windows.h>

#include <ole2.h>

#include <cstring>

namespace vellora::win32 {

namespace {

class MessagePumpingEvent : public ConverterEvent {
 public:
  MessagePumpingEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~MessagePumpingEvent() override {
    if (event_ != nullptr) CloseHandle(event_);
  }
  MessagePumpingEvent(const MessagePumpingEvent&) = delete;
  MessagePumpingEvent& operator=(const MessagePumpingEvent&) = delete;

  void set() override { SetEvent(event_); }
  void reset() override { ResetEvent(event_); }

  // Waits for the event or for a message sent to this thread; peeking
  // delivers the sent messages, then the wait goes on. A failed wait
  // returns rather than spin.
  void wait() override {
    for (;;) {
      const DWORD woken = MsgWaitForMultipleObjects(1, &event_, FALSE, INFINITE, QS_SENDMESSAGE);
      if (woken != WAIT_OBJECT_0 + 1) return;
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
  }

 private:
  HANDLE event_;
};

// OleInitialize succeeded on this thread (S_OK or S_FALSE), so it owes
// one OleUninitialize.
thread_local bool has_initialised_ole = false;

}  // namespace

ModuleHandle WindowsTextConverterLibrary::load(const std::string& path) {
  if (path.empty()) return 0;
  return reinterpret_cast<ModuleHandle>(LoadLibraryA(path.c_str()));
}

void* WindowsTextConverterLibrary::resolve(ModuleHandle library, const char* name) {
  if (library == 0 || name == nullptr) return nullptr;
  const FARPROC entry = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  // Function and object pointers have the same size on Windows; copy the
  // bits rather than cast between the two kinds.
  void* pointer = nullptr;
  static_assert(sizeof pointer == sizeof entry);
  std::memcpy(&pointer, &entry, sizeof pointer);
  return pointer;
}

void WindowsTextConverterLibrary::free(ModuleHandle library) {
  if (library != 0) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

GlobalHandle WindowsTextConverterLibrary::allocate(std::size_t bytes) {
  return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
}

void* WindowsTextConverterLibrary::lock(GlobalHandle block) { return block == nullptr ? nullptr : GlobalLock(block); }

void WindowsTextConverterLibrary::unlock(GlobalHandle block) {
  if (block != nullptr) GlobalUnlock(block);
}

void WindowsTextConverterLibrary::release(GlobalHandle block) {
  if (block != nullptr) GlobalFree(block);
}

std::unique_ptr<ConverterEvent> WindowsTextConverterLibrary::create_event() {
  return std::make_unique<MessagePumpingEvent>();
}

void WindowsTextConverterLibrary::begin_converter_thread() { has_initialised_ole = SUCCEEDED(OleInitialize(nullptr)); }

void WindowsTextConverterLibrary::end_converter_thread() {
  if (has_initialised_ole) OleUninitialize();
  has_initialised_ole = false;
}

std::string WindowsTextConverterLibrary::to_oem(std::string_view ansi) {
  std::string oem(ansi);
  if (!oem.empty()) CharToOemBuffA(oem.data(), oem.data(), static_cast<DWORD>(oem.size()));
  return oem;
}

std::string WindowsTextConverterLibrary::to_ansi(std::string_view oem) {
  std::string ansi(oem);
  if (!ansi.empty()) OemToCharBuffA(ansi.data(), ansi.data(), static_cast<DWORD>(ansi.size()));
  return ansi;
}

}  // namespace vellora::win32
