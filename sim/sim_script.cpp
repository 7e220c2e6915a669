// Reading scripted answers.
#include "sim/sim_script.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace vkrsim {

namespace {

// Reads one hexadecimal byte ("1b" or "0x1b").
bool hexByte(const std::string& token, uint8_t* out) {
  std::string t = token;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty() || t.size() > 2) return false;
  char* end = nullptr;
  long v = strtol(t.c_str(), &end, 16);
  if (*end != '\0') return false;
  *out = uint8_t(v);
  return true;
}

bool decimal(const std::string& text, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  *out = strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

}  // namespace

bool AddRule(Simulator& sim, const std::string& rule, std::string* error) {
  std::string text = rule.substr(0, rule.find('#'));
  std::istringstream in(text);
  std::vector<std::string> tokens;
  for (std::string t; in >> t;) tokens.push_back(t);
  if (tokens.empty()) return true;
  auto fail = [&](const std::string& why) {
    if (error) *error = "bad rule \"" + rule + "\": " + why;
    return false;
  };
  if (tokens.size() < 2) return fail("needs a code and an action");
  if (tokens[0].size() != 4) return fail("the code has four characters");

  Reply reply;
  size_t i = 2;
  const std::string& action = tokens[1];
  if (action == "ack") {
  } else if (action == "nak") {
    reply = Reply::Nak();
  } else if (action == "error") {
    uint8_t code;
    if (i >= tokens.size() || !hexByte(tokens[i++], &code)) return fail("error needs a hex code");
    reply = Reply::Error(code);
  } else if (action == "status") {
    if (i + 1 >= tokens.size() || !hexByte(tokens[i], &reply.statusClass) ||
        !hexByte(tokens[i + 1], &reply.statusCode))
      return fail("status needs a class and a code");
    i += 2;
  } else if (action == "silent") {
    reply = Reply::Silent();
  } else if (action == "raw") {
    reply = Reply::Raw({});
  } else {
    return fail("unknown action " + action);
  }

  long times = 1;
  for (; i < tokens.size(); ++i) {
    const std::string& t = tokens[i];
    Bytes& bytes = reply.kind == Reply::kRaw ? reply.raw : reply.payload;
    long n = 0;
    uint8_t b = 0;
    if (t == "noesc") {
      reply.noEsc = true;
    } else if (t == "nocr") {
      reply.noCr = true;
    } else if (t.rfind("len=", 0) == 0) {
      if (!decimal(t.substr(4), &n)) return fail("len= needs a number");
      reply.lengthSet = true;
      reply.length = int32_t(n);
    } else if (t.rfind("fill=", 0) == 0) {
      std::string fillText = t.substr(5);
      uint8_t with = 0x41;
      size_t colon = fillText.find(':');
      if (colon != std::string::npos) {
        if (!hexByte(fillText.substr(colon + 1), &with)) return fail("fill= byte is hex");
        fillText = fillText.substr(0, colon);
      }
      if (!decimal(fillText, &n) || n < 0 || n > (1L << 24)) return fail("fill= needs a count");
      bytes.insert(bytes.end(), size_t(n), with);
    } else if (t.rfind("echo=", 0) == 0) {
      reply.echo = t.substr(5);
    } else if (t.rfind("times=", 0) == 0) {
      if (!decimal(t.substr(6), &times) || times < 1) return fail("times= needs a count");
    } else if (t.rfind("text=", 0) == 0) {
      bytes.insert(bytes.end(), t.begin() + 5, t.end());
    } else if (hexByte(t, &b)) {
      bytes.push_back(b);
    } else {
      return fail("cannot read " + t);
    }
  }
  for (long k = 0; k < times; ++k) sim.Script(tokens[0], reply);
  return true;
}

bool LoadScript(Simulator& sim, const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error) *error = "cannot open script " + path;
    return false;
  }
  for (std::string line; std::getline(in, line);)
    if (!AddRule(sim, line, error)) return false;
  return true;
}

}  // namespace vkrsim
