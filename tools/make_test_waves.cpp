// make_test_waves: writes the WAVE files the sound tests and the WAVE
// fuzzer start from: small valid files in every form the mixer loads
// (`good`, tests/data/wave/), or a valid file broken in one way per file,
// named after the fault (`bad`, tests/data/bad-wave/).
//
//   make_test_waves <output folder> good|bad
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Chunk {
  std::string Id;
  Bytes Data;
};

void Put16(Bytes& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutId(Bytes& b, const std::string& id) { b.insert(b.end(), id.begin(), id.begin() + 4); }
void Set16(Bytes& b, size_t at, uint32_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = (v >> 8) & 0xFF;
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}

Bytes Fmt(int tag, int channels, uint32_t rate, int bits, bool withCbSize = false) {
  Bytes f;
  Put16(f, static_cast<uint32_t>(tag));
  Put16(f, static_cast<uint32_t>(channels));
  Put32(f, rate);
  Put32(f, rate * static_cast<uint32_t>(channels * bits / 8));
  Put16(f, static_cast<uint32_t>(channels * bits / 8));
  Put16(f, static_cast<uint32_t>(bits));
  if (withCbSize) Put16(f, 0);
  return f;
}

// `frames` frames of a sine in the given sample form, the same on every
// channel.
Bytes Signal(int frames, int channels, int bits, bool isFloat) {
  Bytes d;
  for (int i = 0; i < frames; i++) {
    double v = 0.6 * std::sin(2 * M_PI * i / 37.0);
    for (int c = 0; c < channels; c++) {
      if (isFloat) {
        float f = static_cast<float>(v);
        uint32_t u;
        std::memcpy(&u, &f, 4);
        Put32(d, u);
      } else if (bits == 8) {
        d.push_back(static_cast<uint8_t>(std::lround(128 + 127 * v)));
      } else {
        auto s = static_cast<int64_t>(std::llround(v * (std::ldexp(1.0, bits - 1) - 1)));
        for (int b = 0; b < bits / 8; b++) d.push_back(static_cast<uint8_t>(s >> (8 * b)));
      }
    }
  }
  return d;
}

Bytes Riff(const std::vector<Chunk>& chunks, bool pad = true) {
  Bytes body;
  PutId(body, "WAVE");
  for (const Chunk& c : chunks) {
    PutId(body, c.Id);
    Put32(body, static_cast<uint32_t>(c.Data.size()));
    body.insert(body.end(), c.Data.begin(), c.Data.end());
    if (pad && (c.Data.size() & 1)) body.push_back(0);
  }
  Bytes out;
  PutId(out, "RIFF");
  Put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes Wave(int tag, int channels, uint32_t rate, int bits, const Bytes& data) {
  return Riff({{"fmt ", Fmt(tag, channels, rate, bits)}, {"data", data}});
}

bool Write(const std::string& folder, const std::string& name, const Bytes& b) {
  std::string path = folder + "/" + name + ".wav";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "make_test_waves: cannot write %s\n", path.c_str());
    return false;
  }
  bool ok = b.empty() || std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

bool Good(const std::string& out) {
  const Bytes list = {'I', 'N', 'F', 'O', 'x'};  // odd length
  const Bytes mono16 = Signal(300, 1, 16, false);
  bool ok = true;
  ok &= Write(out, "mono-8bit-22050", Wave(1, 1, 22050, 8, Signal(500, 1, 8, false)));
  ok &= Write(out, "stereo-16bit-44100", Wave(1, 2, 44100, 16, Signal(400, 2, 16, false)));
  ok &= Write(out, "mono-16bit-8000", Wave(1, 1, 8000, 16, Signal(300, 1, 16, false)));
  ok &= Write(out, "stereo-float-48000", Wave(3, 2, 48000, 32, Signal(200, 2, 32, true)));
  ok &= Write(out, "six-channel-16bit-22050", Wave(1, 6, 22050, 16, Signal(100, 6, 16, false)));
  ok &= Write(out, "mono-32bit-11025", Wave(1, 1, 11025, 32, Signal(200, 1, 32, false)));
  ok &= Write(out, "stereo-24bit-96000", Wave(1, 2, 96000, 24, Signal(300, 2, 24, false)));
  ok &= Write(out, "odd-chunk-padded",
              Riff({{"LIST", list}, {"fmt ", Fmt(1, 1, 11025, 16)}, {"data", mono16}}));
  ok &= Write(out, "odd-chunk-unpadded",
              Riff({{"LIST", list}, {"fmt ", Fmt(1, 1, 11025, 16)}, {"data", mono16}}, false));
  ok &= Write(out, "fmt-18-bytes", Riff({{"fmt ", Fmt(1, 1, 11025, 16, true)}, {"data", mono16}}));
  ok &= Write(out, "chunks-after-data",
              Riff({{"fmt ", Fmt(1, 1, 11025, 16)}, {"data", mono16}, {"LIST", list}}));
  return ok;
}

bool Bad(const std::string& out) {
  const Bytes data = Signal(300, 1, 16, false);
  const Bytes base = Wave(1, 1, 11025, 16, data);  // fmt at 12, data chunk at 36
  bool ok = true;
  auto broken = [&](const std::string& name, void (*change)(Bytes&)) {
    Bytes b = base;
    change(b);
    ok &= Write(out, name, b);
  };
  for (size_t n : {size_t{0}, size_t{3}, size_t{8}, size_t{11}, size_t{12}, size_t{19}, size_t{20},
                   size_t{35}, size_t{36}, size_t{43}, size_t{44}, size_t{100}, base.size() - 1}) {
    ok &= Write(out, "truncated-at-" + std::to_string(n), Bytes(base.begin(), base.begin() + n));
  }
  broken("riff-id-wrong", [](Bytes& b) { b[3] = 'X'; });
  broken("wave-id-wrong", [](Bytes& b) { b[11] = 'X'; });
  broken("fmt-length-12", [](Bytes& b) { Set32(b, 16, 12); });
  broken("fmt-length-17", [](Bytes& b) { Set32(b, 16, 17); });
  broken("fmt-length-beyond-end", [](Bytes& b) { Set32(b, 16, static_cast<uint32_t>(b.size())); });
  broken("data-length-beyond-end",
         [](Bytes& b) { Set32(b, 40, static_cast<uint32_t>(b.size() - 43)); });
  broken("data-length-max", [](Bytes& b) { Set32(b, 40, 0xFFFFFFFF); });
  broken("data-length-zero", [](Bytes& b) { Set32(b, 40, 0); });
  broken("tag-adpcm", [](Bytes& b) { Set16(b, 20, 2); });
  broken("tag-extensible", [](Bytes& b) { Set16(b, 20, 0xFFFE); });
  broken("tag-zero", [](Bytes& b) { Set16(b, 20, 0); });
  broken("channels-0", [](Bytes& b) { Set16(b, 22, 0); });
  broken("channels-9", [](Bytes& b) { Set16(b, 22, 9); });
  broken("channels-65535", [](Bytes& b) { Set16(b, 22, 0xFFFF); });
  broken("rate-0", [](Bytes& b) { Set32(b, 24, 0); });
  broken("rate-999", [](Bytes& b) { Set32(b, 24, 999); });
  broken("rate-384001", [](Bytes& b) { Set32(b, 24, 384001); });
  broken("rate-max", [](Bytes& b) { Set32(b, 24, 0xFFFFFFFF); });
  broken("bits-0", [](Bytes& b) { Set16(b, 34, 0); });
  broken("bits-33", [](Bytes& b) { Set16(b, 34, 33); });
  broken("float-16bit", [](Bytes& b) {
    Set16(b, 20, 3);
    Set16(b, 34, 16);
  });
  ok &= Write(out, "float-64bit", Wave(3, 1, 11025, 64, Bytes(64, 0)));
  ok &= Write(out, "fmt-missing", Riff({{"data", data}}));
  ok &= Write(out, "data-missing", Riff({{"fmt ", Fmt(1, 1, 11025, 16)}}));
  ok &= Write(out, "data-before-fmt", Riff({{"data", data}, {"fmt ", Fmt(1, 1, 11025, 16)}}));
  Bytes huge = Riff({{"LIST", Bytes(4, 0)}, {"fmt ", Fmt(1, 1, 11025, 16)}, {"data", data}});
  Set32(huge, 16, 0xFFFFFFFF);
  ok &= Write(out, "chunk-length-max-before-fmt", huge);
  ok &= Write(out, "data-shorter-than-a-frame", Wave(1, 1, 11025, 16, Bytes{0x12}));
  ok &= Write(out, "data-shorter-than-a-frame-stereo", Wave(1, 2, 11025, 16, Bytes{1, 2, 3}));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[2]) != "good" && std::string(argv[2]) != "bad")) {
    std::fprintf(stderr, "usage: make_test_waves <output folder> good|bad\n");
    return 2;
  }
  bool ok = std::string(argv[2]) == "good" ? Good(argv[1]) : Bad(argv[1]);
  return ok ? 0 : 1;
}
