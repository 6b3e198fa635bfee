#include "frontend/cli.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "frontend/options.h"
#include "frontend/usage.h"
#include "platform/platform.h"

namespace varn {

int32_t parse_int32(const std::string& text, const std::string& option) {
  // The whole text is the number: an optional sign and decimal digits,
  // nothing before or after them.
  size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  if (i == text.size()) throw InvalidNumber(text, option);
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') throw InvalidNumber(text, option);
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) throw InvalidNumber(text, option);
  return static_cast<int32_t>(v);
}

namespace {

// A value option's value at args[i]: "NAME VALUE" or "NAME=VALUE". A
// separate value may not look like an option; one that begins with '-' and
// a digit (-1:Intro, -5) is a value all the same.
bool value_of(const std::vector<std::string>& a, size_t& i, const std::string& name, std::string& out) {
  const std::string& arg = a[i];
  if (arg == name) {
    if (i + 1 >= a.size()) throw InvalidOption(name + " needs a value");
    const std::string& next = a[i + 1];
    if (!next.empty() && next[0] == '-' && !(next.size() > 1 && next[1] >= '0' && next[1] <= '9'))
      throw InvalidOption(name + " needs a value (for one that begins with '-', write " + name + "=" + next + ")");
    out = a[++i];
    return true;
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
    out = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

// Applies the option at args[i] (moving i past a separate value); false
// when no option of the table takes it.
bool apply_option(const std::vector<std::string>& a, size_t& i, ParseState& state) {
  const std::string& arg = a[i];
  for (const OptionSpec& o : option_table()) {
    std::string v;
    switch (o.kind) {
      case OptionKind::Flag:
        if (arg != o.name) continue;
        break;
      case OptionKind::Value:
        if (!value_of(a, i, o.name, v)) continue;
        break;
      case OptionKind::Next:
      case OptionKind::NextIfAny:
        if (arg != o.name) continue;
        if (i + 1 >= a.size()) {
          if (o.kind == OptionKind::NextIfAny) return true;
          throw InvalidOption(arg + " needs a value");
        }
        v = a[++i];
        break;
      case OptionKind::Exit:
      case OptionKind::Operand:
      case OptionKind::Note:
        continue;
    }
    o.apply(state, v);
    return true;
  }
  return false;
}

}  // namespace

std::optional<int> parse_command_line(const std::vector<std::string>& args, PackJob& job) {
  ParseState state{job, args.empty() ? std::string() : args[0]};
  // Help, version and the schema end the run wherever they stand; the
  // first of them on the command line wins.
  for (size_t i = 1; i < args.size(); ++i) {
    for (const OptionSpec& o : option_table()) {
      if (o.kind != OptionKind::Exit || args[i] != o.name) continue;
      o.apply(state, args[i]);
      return 0;
    }
  }
  if (args.size() <= 1) {
    const std::string u = usage_text(state.program);
    std::fwrite(u.data(), 1, u.size(), stderr);
    return 1;
  }
  for (size_t i = 1; i < args.size(); ++i) {
    if (apply_option(args, i, state)) continue;
    const std::string& arg = args[i];
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "Unknown option: %s\n", arg.c_str());
      return 1;
    }
    job.inputs.push_back(arg);
  }
  const std::string& out = job.output_path;
  job.inspect_dir = !out.empty() && (out.back() == '/' || platform_is_directory(out));
  return std::nullopt;
}

InputKind input_kind(const std::string& name) {
  if (name.size() <= 4) return InputKind::Unknown;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".dsf") return InputKind::Dsf;
  if (ext == ".dff" || ext == ".dsd") return InputKind::Dsdiff;
  return InputKind::Unknown;
}

std::string sacd_image_name(const std::string& output_path) {
  size_t dot = output_path.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = output_path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".iso") return output_path;
  }
  return output_path + ".iso";
}

std::string dsd_disc_image_name(const std::string& output_path) {
  return output_path.empty() ? std::string("dsd_disc.iso") : output_path;
}

}  // namespace varn
