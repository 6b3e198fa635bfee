#include "frontend/host.h"

#include <atomic>

namespace varn {

static std::atomic<uint8_t> g_stop{0};
static std::atomic<uint8_t> g_owner{0};

void set_process_owner(bool owner) { g_owner.store(owner ? 1 : 0); }
bool process_owner() { return g_owner.load() != 0; }
bool host_stop_requested() { return g_stop.load() != 0; }
bool take_host_stop_request() { return g_stop.exchange(0) != 0; }
void request_host_stop_for_test() { g_stop.store(1); }
void host_pre_pass(const std::vector<std::string>&) {}
void start_control_reader(uint64_t, HostReadFn) {}
std::string api_schema_json(const std::string&) { return {}; }
std::string json_escape(const std::string& t) { return t; }

}  // namespace varn
