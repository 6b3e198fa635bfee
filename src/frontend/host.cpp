#include "frontend/host.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/cancel.h"
#include "platform/platform.h"

namespace varn {

static std::atomic<uint8_t> g_stop{0};
static std::atomic<uint8_t> g_owner{0};
static const char kTag[] = "tessel";

void set_process_owner(bool owner) { g_owner.store(owner ? 1 : 0); }
bool process_owner() { return g_owner.load() != 0; }
bool host_stop_requested() { return g_stop.load() != 0; }
bool take_host_stop_request() { return g_stop.exchange(0) != 0; }
void request_host_stop_for_test() { g_stop.store(1); }

namespace {

struct ControlContext {
  uint64_t handle;
  HostReadFn read;
  std::atomic<uint8_t>* stop;
  const char* tag;
};

void control_reader(std::unique_ptr<ControlContext> ctx) {
  char buffer[4096];
  for (;;) {
    int32_t n = ctx->read(ctx->handle, buffer, 4095);
    if (n < 1) return;
    if (n > 4095) n = 4095;
    std::string text(buffer, static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text == "stop" || text == "quit" || text == "cancel" || text == "q") {
      ctx->stop->exchange(1);
      // The long steps of a run under way stop as they do for Ctrl-C.
      request_cancel(kStopByHost);
      std::fprintf(stderr, "[%s] host requested stop (inproc control channel)\n", ctx->tag);
      return;
    }
    std::fprintf(stderr, "[%s] inproc control: ignored command '%s'\n", ctx->tag, text.c_str());
  }
}

}  // namespace

void start_control_reader(uint64_t handle, HostReadFn fn) {
  auto ctx = std::make_unique<ControlContext>(ControlContext{handle, fn, &g_stop, kTag});
  std::thread(control_reader, std::move(ctx)).detach();
}

void host_pre_pass(const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-inproc-host") {
      platform_reattach_std_handles();
      break;
    }
  }
  uint64_t handle = 0, fn = 0;
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "-inproc-ctl") handle = std::strtoull(args[i + 1].c_str(), nullptr, 10);
    else if (args[i] == "-inproc-ctl-fn") fn = std::strtoull(args[i + 1].c_str(), nullptr, 10);
  }
  if (handle != 0 && fn != 0)
    start_control_reader(handle, reinterpret_cast<HostReadFn>(static_cast<uintptr_t>(fn)));
}

std::string json_escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

}  // namespace varn
