// The programs' command lines: GNU-style options ("--name value",
// "--name=value", "-h") and plain words, read one at a time, with one
// wording for every complaint.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

// Whether `text` is a whole decimal number from lo to hi with nothing
// before or after it; if so, it is stored in *value (an integer type that
// holds the range).
template <class Int>
bool ParseWholeNumber(const char* text, long lo, long hi, Int* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *value = static_cast<Int>(v);
  return true;
}

// "<program>: <message>" and where to find help, on stderr; returns
// `status`.
inline int CommandLineError(const char* program, const std::string& message, int status) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, message.c_str(),
               program);
  return status;
}

class OptionReader {
 public:
  OptionReader(const char* program, int argc, char** argv)
      : m_Program(program), m_Argc(argc), m_Argv(argv) {}

  // Moves to the next word; false after the last.
  bool Next() {
    if (++m_At >= m_Argc) return false;
    m_Name = m_Argv[m_At];
    m_Value.clear();
    m_HasValue = false;
    const size_t eq = m_Name.find('=');
    if (m_Name.rfind("--", 0) == 0 && eq != std::string::npos) {
      m_Value = m_Name.substr(eq + 1);
      m_Name.resize(eq);
      m_HasValue = true;
    }
    return true;
  }

  // The word as given, and the option's name without any "=value".
  const char* Word() const { return m_Argv[m_At]; }
  bool Is(const char* name) const { return m_Name == name; }
  bool IsOption() const { return m_Name.size() > 1 && m_Name[0] == '-'; }

  // The option's value: what follows '=', else the next word (taken); null
  // when there is none.
  const char* Value() {
    if (m_HasValue) return m_Value.c_str();
    return m_At + 1 < m_Argc ? m_Argv[++m_At] : nullptr;
  }

  // The value as a text that is not empty; false when there is none.
  bool Text(std::string* value) {
    const char* v = Value();
    if (!v || !*v) return false;
    *value = v;
    return true;
  }

  // The value as a whole number from lo to hi; false (and `*given` the
  // text, or "") when it is not one.
  template <class Int>
  bool WholeNumber(long lo, long hi, Int* value, std::string* given) {
    const char* v = Value();
    *given = v ? v : "";
    return ParseWholeNumber(v, lo, hi, value);
  }

  int Error(const std::string& message, int status) const {
    return CommandLineError(m_Program, message, status);
  }
  // The complaint about a value: "--name needs <what>, not '<given>'".
  int BadValue(const std::string& what, const std::string& given, int status) const {
    return Error(m_Name + " needs " + what + ", not '" + given + "'", status);
  }
  // The complaint about a missing value: "--name needs <what>".
  int Missing(const std::string& what, int status) const {
    return Error(m_Name + " needs " + what, status);
  }
  int Unknown(int status) const {
    return Error("unknown option '" + std::string(Word()) + "'", status);
  }

 private:
  const char* m_Program;
  int m_Argc;
  char** m_Argv;
  int m_At = 0;
  std::string m_Name, m_Value;
  bool m_HasValue = false;
};
