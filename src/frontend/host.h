#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// Host read function: read(handle, buffer, capacity) -> bytes, <= 0 ends.
using HostReadFn = int32_t (*)(uint64_t handle, char* buffer, int32_t capacity);

// Process-wide host state.
void set_process_owner(bool owner);
bool process_owner();
bool host_stop_requested();          // atomic load
bool take_host_stop_request();       // atomic exchange with 0; true when it was set
void request_host_stop_for_test();   // sets the flag (tests)

// Start of every run: -inproc-host re-attach, control numbers, reader.
// Returns false only when the reader thread cannot be started (throws).
void host_pre_pass(const std::vector<std::string>& args);

// Starts the detached control-channel reader on (handle, fn).
void start_control_reader(uint64_t handle, HostReadFn fn);

// The --api option schema for a program name: one JSON line.
std::string api_schema_json(const std::string& program_name);

// Escapes one text for a JSON string (without the quotes).
std::string json_escape(const std::string& text);

}  // namespace varn
