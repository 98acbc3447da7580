// Ready-made capture scripts for the headless backend, and the parser of
// ZELVARO_HEADLESS_CAPTURE.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "platform/backends/headless/headless.h"
#include "platform/services/recording.h"

namespace headless {
namespace {

// Writes one frame's worth of the value `v` (-1..1) at `out`.
void PutFrame(const platform::StreamFormat& f, double v, unsigned char* out) {
  if (v > 1) v = 1;
  if (v < -1) v = -1;
  for (int c = 0; c < f.Channels; c++) {
    if (f.Bits == 8) {
      *out++ = static_cast<unsigned char>(std::lround(128 + v * 127));
    } else {
      auto s = static_cast<int16_t>(std::lround(v * 32767));
      *out++ = static_cast<unsigned char>(s & 0xFF);
      *out++ = static_cast<unsigned char>((s >> 8) & 0xFF);
    }
  }
}

// Fills `len` bytes from `offset` on with frames of `value(frame index)`;
// offsets need not fall on frame boundaries.
template <class Value>
void FillFrames(const platform::StreamFormat& f, uint64_t offset, unsigned char* out, size_t len,
                Value value) {
  const uint64_t fb = static_cast<uint64_t>(f.FrameBytes());
  unsigned char frame[4];
  for (size_t i = 0; i < len;) {
    uint64_t pos = offset + i;
    uint64_t index = pos / fb;
    PutFrame(f, value(index), frame);
    for (uint64_t b = pos % fb; b < fb && i < len; b++) out[i++] = frame[b];
  }
}

bool ParseNumber(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

}  // namespace

CaptureScript ToneScript(double frequency, double amplitude) {
  CaptureScript s;
  std::ostringstream name;
  name << "Scripted tone " << frequency << " Hz";
  s.Name = name.str();
  s.Fill = [frequency, amplitude](const platform::StreamFormat& f, uint64_t offset,
                                  unsigned char* out, size_t len) {
    FillFrames(f, offset, out, len, [&](uint64_t i) {
      return amplitude * std::sin(2 * M_PI * frequency * static_cast<double>(i) / f.Rate);
    });
  };
  return s;
}

CaptureScript BufferScript(std::vector<unsigned char> bytes) {
  auto data = std::make_shared<std::vector<unsigned char>>(std::move(bytes));
  CaptureScript s;
  s.Name = "Scripted buffer";
  s.Fill = [data](const platform::StreamFormat&, uint64_t offset, unsigned char* out, size_t len) {
    for (size_t i = 0; i < len; i++)
      out[i] = offset + i < data->size() ? (*data)[static_cast<size_t>(offset + i)] : 0;
  };
  s.Length = [data](const platform::StreamFormat&) { return static_cast<uint64_t>(data->size()); };
  return s;
}

bool WavScript(const std::string& path, CaptureScript* script, std::string* error) {
  auto recording = std::make_shared<Recording>();
  if (!recording->Load(path, error)) return false;
  CaptureScript s;
  s.Name = "Scripted recording " + recording->FileName();
  s.Fill = [recording](const platform::StreamFormat& fmt, uint64_t offset, unsigned char* out,
                       size_t len) {
    const std::vector<unsigned char>& mono = recording->AtRate(fmt.Rate);
    FillFrames(fmt, offset, out, len, [&](uint64_t i) {
      return i < mono.size() ? (mono[static_cast<size_t>(i)] - 128) / 128.0 : 0.0;
    });
  };
  s.Length = [recording](const platform::StreamFormat& fmt) {
    return static_cast<uint64_t>(recording->AtRate(fmt.Rate).size()) *
           static_cast<uint64_t>(fmt.FrameBytes());
  };
  *script = std::move(s);
  return true;
}

bool ParseCaptureScripts(const std::string& list, std::vector<CaptureScript>* scripts,
                         std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::vector<CaptureScript> out;
  std::stringstream entries(list);
  std::string entry;
  while (std::getline(entries, entry, ';')) {
    if (entry.empty()) continue;
    std::stringstream parts(entry);
    std::string part;
    std::getline(parts, part, ',');
    std::string kind = part.substr(0, part.find('='));
    std::string arg = part.find('=') == std::string::npos ? "" : part.substr(part.find('=') + 1);
    CaptureScript s;
    double amplitude = 0.5;
    std::string name;
    std::vector<std::string> options;
    while (std::getline(parts, part, ',')) options.push_back(part);
    for (const std::string& o : options) {
      std::string key = o.substr(0, o.find('='));
      std::string value = o.find('=') == std::string::npos ? "" : o.substr(o.find('=') + 1);
      double v = 0;
      if (key == "amp" && ParseNumber(value, &v) && v >= 0 && v <= 1) {
        amplitude = v;
      } else if (key == "vanish" && ParseNumber(value, &v) && v >= 0) {
        s.VanishAfterSeconds = v;
      } else if (key == "stall" && (value.empty() || (ParseNumber(value, &v) && v >= 0))) {
        s.StallAfterSeconds = value.empty() ? 0 : v;
      } else if (key == "short" && ParseNumber(value, &v) && v >= 1 && v <= 1e9) {
        s.ShortBlockBytes = static_cast<uint32_t>(v);
      } else if (key == "fail" && value.empty()) {
        s.FailOpen = true;
      } else if (key == "name" && !value.empty()) {
        name = value;
      } else {
        return fail("bad option '" + o + "' in '" + entry + "'");
      }
    }
    CaptureScript base;
    double hz = 0;
    if (kind == "tone" && ParseNumber(arg, &hz) && hz > 0) {
      base = ToneScript(hz, amplitude);
    } else if (kind == "silence" && arg.empty()) {
      base = ToneScript(0, 0);
      base.Name = "Scripted silence";
    } else if (kind == "wav" && !arg.empty()) {
      std::string why;
      if (!WavScript(arg, &base, &why)) return fail(arg + ": " + why);
    } else {
      return fail("unknown device '" + entry + "' (tone=HZ, silence or wav=PATH)");
    }
    base.VanishAfterSeconds = s.VanishAfterSeconds;
    base.StallAfterSeconds = s.StallAfterSeconds;
    base.ShortBlockBytes = s.ShortBlockBytes;
    base.FailOpen = s.FailOpen;
    if (!name.empty()) base.Name = name;
    out.push_back(std::move(base));
  }
  *scripts = std::move(out);
  return true;
}

}  // namespace headless
