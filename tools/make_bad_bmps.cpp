// make_bad_bmps: writes the malformed BMP files of tests/data/bad-bmp/, each
// a small valid image broken in one way, named after the fault.
//
//   make_bad_bmps <output folder>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Set16(Bytes& b, size_t at, uint32_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = (v >> 8) & 0xFF;
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}

// A valid w x h image of the given depth: file header, 40-byte info header,
// a full colour table for the indexed depths, and rows of a simple pattern.
Bytes Valid(int w, int h, int bits) {
  int colours = bits <= 8 ? 1 << bits : 0;
  uint32_t stride = (w * bits + 31) / 32 * 4, image = stride * h;
  uint32_t off = 14 + 40 + colours * 4;
  Bytes b(off + image, 0);
  b[0] = 'B';
  b[1] = 'M';
  Set32(b, 2, off + image);
  Set32(b, 10, off);
  Set32(b, 14, 40);
  Set32(b, 18, static_cast<uint32_t>(w));
  Set32(b, 22, static_cast<uint32_t>(h));
  Set16(b, 26, 1);
  Set16(b, 28, static_cast<uint32_t>(bits));
  Set32(b, 34, image);
  for (int i = 0; i < colours; i++) {
    b[54 + 4 * i] = static_cast<uint8_t>(i * 7);
    b[55 + 4 * i] = static_cast<uint8_t>(i * 13);
    b[56 + 4 * i] = static_cast<uint8_t>(i * 29);
  }
  for (uint32_t i = 0; i < image; i++) b[off + i] = static_cast<uint8_t>(i * 37 + 11);
  return b;
}

std::string g_dir;

void Write(const std::string& name, const Bytes& b) {
  std::string path = g_dir + "/" + name + ".bmp";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (!b.empty() && std::fwrite(b.data(), 1, b.size(), f) != b.size()) || std::fclose(f)) {
    std::fprintf(stderr, "make_bad_bmps: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

Bytes Cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_bad_bmps <output folder>\n");
    return 2;
  }
  g_dir = argv[1];
  const Bytes v8 = Valid(5, 3, 8), v24 = Valid(3, 2, 24), v1 = Valid(9, 2, 1);

  // Truncated at every header field boundary, at the end of the colour
  // table, and one byte short of the last row.
  for (size_t n : {0, 1, 2, 6, 8, 10, 13, 14, 18, 22, 26, 28, 30, 34, 38, 42, 46, 50, 53, 54})
    Write("truncated-8bit-at-" + std::to_string(n), Cut(v8, n));
  Write("truncated-8bit-in-table", Cut(v8, 54 + 100));
  Write("truncated-8bit-at-table-end", Cut(v8, 54 + 1024));
  Write("truncated-8bit-last-byte", Cut(v8, v8.size() - 1));
  Write("truncated-24bit-last-padding", Cut(v24, v24.size() - 1));
  Write("truncated-24bit-at-pixels", Cut(v24, 54));
  Write("truncated-1bit-in-table", Cut(v1, 58));

  // Lying sizes.
  Bytes b = v8;
  Set32(b, 46, 300);  // biClrUsed beyond any 8-bit table
  Write("clrused-300", b);
  b = v8;
  Set32(b, 46, 0xFFFFFFFF);
  Write("clrused-huge", b);
  b = v24;
  Set32(b, 46, 200);  // a table for a direct-colour image, not present
  Write("clrused-24bit-missing-table", b);
  b = v8;
  Set32(b, 18, 0x7FFFFFFF);
  Write("width-huge", b);
  b = v8;
  Set32(b, 18, 16385);
  Write("width-16385", b);
  b = v8;
  Set32(b, 22, 16385);
  Write("height-16385", b);
  b = v8;
  Set32(b, 22, static_cast<uint32_t>(-16385));
  Write("height-topdown-16385", b);
  b = v8;
  Set32(b, 22, 0x80000000u);
  Write("height-int-min", b);
  b = v8;
  Set32(b, 18, 0);
  Write("width-zero", b);
  b = v8;
  Set32(b, 22, 0);
  Write("height-zero", b);
  b = v8;
  Set32(b, 18, static_cast<uint32_t>(-5));
  Write("width-negative", b);
  b = v24;
  Set32(b, 18, 16384);
  Set32(b, 22, 16384);
  Write("dimensions-max-without-pixels", b);
  b = v24;
  Set32(b, 18, 5);  // rows of 16 bytes; the file holds two rows of 12
  Write("width-beyond-rows", b);
  b = v8;
  Set32(b, 10, static_cast<uint32_t>(v8.size()));  // pixels start at the end
  Write("offbits-at-end", b);
  b = v8;
  Set32(b, 10, 0xFFFFFFF0u);
  Write("offbits-huge", b);
  b = v8;
  Set32(b, 10, 30);  // inside the info header
  Write("offbits-in-header", b);
  b = v8;
  Set32(b, 10, 54 + 512);  // inside the colour table
  Write("offbits-in-table", b);
  b = v8;
  Set32(b, 10, 3);
  Write("offbits-in-file-header", b);

  // Compression, depth and header kinds the loader does not take.
  for (uint32_t c : {1u, 2u, 3u, 4u, 5u, 6u}) {
    b = v8;
    Set32(b, 30, c);
    Write("compression-" + std::to_string(c), b);
  }
  for (uint32_t bits : {0u, 2u, 7u, 48u, 64u, 0xFFFFu}) {
    b = v24;
    Set16(b, 28, bits);
    Write("depth-" + std::to_string(bits), b);
  }
  for (uint32_t size : {0u, 12u, 16u, 39u, 41u, 64u, 200u, 0xFFFFFFFFu}) {
    b = v24;
    Set32(b, 14, size);
    Write("header-size-" + std::to_string(size), b);
  }
  b = v24;
  b[0] = 'M';
  b[1] = 'B';
  Write("signature-mb", b);
  b = v24;
  b[0] = b[1] = 0;
  Write("signature-none", b);
  return 0;
}
