#include "support/wav.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {

std::vector<unsigned char> Tone8(const std::vector<Partial>& partials, int rate, size_t count,
                                 double phase) {
  std::vector<unsigned char> out(count);
  for (size_t i = 0; i < count; i++) {
    double v = 0;
    for (const Partial& p : partials)
      v += p.Amplitude * std::sin(2 * M_PI * p.Frequency * i / rate + phase);
    long s = std::lround(128 + v);
    out[i] = static_cast<unsigned char>(s < 0 ? 0 : (s > 255 ? 255 : s));
  }
  return out;
}

namespace {
void Put16(std::vector<unsigned char>& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<unsigned char>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutTag(std::vector<unsigned char>& b, const char* tag) {
  for (int i = 0; i < 4; i++) b.push_back(static_cast<unsigned char>(tag[i]));
}
}  // namespace

std::vector<unsigned char> WaveImage(const std::vector<double>& samples, int channels, int rate,
                                     int bits, bool is_float, bool extensible) {
  std::vector<unsigned char> data;
  for (double s : samples) {
    double c = s < -1 ? -1 : (s > 1 ? 1 : s);
    if (is_float) {
      float f = static_cast<float>(c);
      uint32_t u;
      std::memcpy(&u, &f, 4);
      Put32(data, u);
    } else if (bits == 8) {
      data.push_back(static_cast<unsigned char>(std::lround(c * 127) + 128));
    } else {
      double full = std::ldexp(1.0, bits - 1) - 1;
      int64_t v = std::llround(c * full);
      for (int b = 0; b < bits / 8; b++) data.push_back(static_cast<unsigned char>(v >> (8 * b)));
    }
  }

  std::vector<unsigned char> fmt;
  uint16_t tag = extensible ? 0xFFFE : (is_float ? 3 : 1);
  Put16(fmt, tag);
  Put16(fmt, static_cast<uint32_t>(channels));
  Put32(fmt, static_cast<uint32_t>(rate));
  Put32(fmt, static_cast<uint32_t>(rate * channels * bits / 8));
  Put16(fmt, static_cast<uint32_t>(channels * bits / 8));
  Put16(fmt, static_cast<uint32_t>(bits));
  if (extensible) {
    Put16(fmt, 22);
    Put16(fmt, static_cast<uint32_t>(bits));
    Put32(fmt, 0);  // channel mask
    const unsigned char guid[16] = {static_cast<unsigned char>(is_float ? 3 : 1),
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0x10,
                                    0,
                                    0x80,
                                    0,
                                    0,
                                    0xAA,
                                    0,
                                    0x38,
                                    0x9B,
                                    0x71};
    for (unsigned char g : guid) fmt.push_back(g);
  }

  std::vector<unsigned char> out;
  PutTag(out, "RIFF");
  Put32(out, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size() + (data.size() & 1)));
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  Put32(out, static_cast<uint32_t>(fmt.size()));
  for (unsigned char c : fmt) out.push_back(c);
  PutTag(out, "data");
  Put32(out, static_cast<uint32_t>(data.size()));
  out.reserve(out.size() + data.size() + 1);
  for (unsigned char c : data) out.push_back(c);
  if (data.size() & 1) out.push_back(0);
  return out;
}

std::vector<unsigned char> RiffImage(const std::vector<Chunk>& chunks, bool pad) {
  std::vector<unsigned char> body;
  PutTag(body, "WAVE");
  for (const Chunk& c : chunks) {
    PutTag(body, c.Id.c_str());
    Put32(body, static_cast<uint32_t>(c.Bytes.size()));
    body.insert(body.end(), c.Bytes.begin(), c.Bytes.end());
    if (pad && (c.Bytes.size() & 1)) body.push_back(0);
  }
  std::vector<unsigned char> out;
  PutTag(out, "RIFF");
  Put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<unsigned char> FmtChunk(int tag, int channels, int rate, int bits) {
  std::vector<unsigned char> fmt;
  Put16(fmt, static_cast<uint32_t>(tag));
  Put16(fmt, static_cast<uint32_t>(channels));
  Put32(fmt, static_cast<uint32_t>(rate));
  Put32(fmt, static_cast<uint32_t>(rate * channels * bits / 8));
  Put16(fmt, static_cast<uint32_t>(channels * bits / 8));
  Put16(fmt, static_cast<uint32_t>(bits));
  return fmt;
}

std::vector<double> Tone(const std::vector<Partial>& partials, int rate, double seconds) {
  std::vector<double> s(static_cast<size_t>(seconds * rate), 0.0);
  for (size_t i = 0; i < s.size(); i++)
    for (const Partial& p : partials)
      s[i] += p.Amplitude * std::sin(2 * M_PI * p.Frequency * i / rate);
  return s;
}

std::vector<double> Sine(double frequency, double amplitude, int rate, double seconds,
                         int channels) {
  size_t frames = static_cast<size_t>(seconds * rate);
  std::vector<double> s;
  s.reserve(frames * channels);
  for (size_t i = 0; i < frames; i++) {
    double v = amplitude * std::sin(2 * M_PI * frequency * i / rate);
    for (int c = 0; c < channels; c++) s.push_back(v);
  }
  return s;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::vector<unsigned char> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

std::string ReadFileText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zelvaro-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_Path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_Path, ec);
}

CurrentFolder::CurrentFolder(const std::string& folder)
    : m_Saved(std::filesystem::current_path().string()) {
  std::filesystem::current_path(folder);
}

CurrentFolder::~CurrentFolder() {
  std::error_code ec;
  std::filesystem::current_path(m_Saved, ec);
}

namespace {
std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
}  // namespace

CommandResult RunCommand(const std::string& command) {
  TempDir dir;
  std::string out = dir.File("out"), err = dir.File("err");
  std::string full = "(" + command + ") >" + ShellQuote(out) + " 2>" + ShellQuote(err);
  int raw = std::system(full.c_str());
  CommandResult r;
  r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  r.Out = Slurp(out);
  r.Err = Slurp(err);
  return r;
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

}  // namespace testing_support
