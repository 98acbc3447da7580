// CParticleSystem: particle types, emitters, moving and drawing.
//
// Every value that comes from a caller (sizes, positions, rates, angles) is
// held within sane bounds before it becomes an integer or a count, so a
// wild value gives a wild effect, never undefined arithmetic or a write
// outside the surface.
#include "common_code/particle.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/winapi/alert.h"

CRandom ParticleRandom;
CParticleSystem particlesystem;

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 2 * kPi;

float Radians(float degrees) { return degrees * kPi / 180.0f; }

// A real value as an int, truncated towards zero and held within +-limit
// (0 for a value that is not a number).
int Truncate(double v, double limit) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::clamp(v, -limit, limit));
}

// A direction in radians as a whole degree 0..359.
int Degree(float radians) {
  double d = std::fmod(static_cast<double>(radians) * 180.0 / M_PI, 360.0);
  if (!(d == d)) return 0;
  int deg = static_cast<int>(d);
  return deg < 0 ? deg + 360 : deg;
}

// Types 5-9 (they send no notification).
const ::UserParticleInfo kBuiltInTypes[5] = {
    {0, 2.0f, {255, 255, 51, 255}, {255, 0, 0, 0}, 0.25f, 0.5f, 0},     // 5 smoke
    {0, 2.0f, {255, 255, 255, 255}, {0, 0, 0, 0}, 0.25f, 0.5f, 0},      // 6 smoke
    {1, 1.5f, {255, 255, 0, 255}, {255, 0, 0, 0}, 0.25f, 0.5f, 0},      // 7 spark
    {2, 3.0f, {255, 255, 0, 255}, {255, 0, 0, 0}, 0.25f, 0.5f, 0},      // 8 bubble
    {3, 3.0f, {255, 255, 255, 255}, {255, 0, 255, 0}, 0.25f, 0.5f, 0},  // 9 flare
};

constexpr const char* kImageNames[4] = {"smoke", "spark", "bubble", "flare"};

// The area in which an emitter's drawn position must lie for its particles
// to be created.
constexpr float kEmitLeft = -32, kEmitRight = 272, kEmitTop = 0, kEmitBottom = 320;

bool SameColour(const CColor& a, const CColor& b) {
  return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

}  // namespace

void CColor::RandomVariation(int amount) {
  if (amount <= 0) return;
  amount = std::min(amount, 255);
  auto vary = [amount](unsigned char& c) {
    int delta = ParticleRandom.Next() % (2 * amount + 1) - amount;
    c = static_cast<unsigned char>(std::clamp(c + delta, 0, 255));
  };
  vary(r);
  vary(g);
  vary(b);
}

// Start-up ------------------------------------------------------------------------

int CParticleSystem::Init(void* hwnd, float delta) {
  hWindow = hwnd;
  BuildTables();
  TimeDelta = delta * 0.001f;
  for (int i = 0; i < 4; i++) {
    if (!pdib[i].LoadBMP(nullptr, kImageNames[i])) {
      Alert("Unable to initialise particle system", kImageNames[i]);
      return 0;
    }
    ProcessImage(&pdib[i]);
  }
  return 1;
}

void CParticleSystem::BuildTables() {
  for (int i = 0; i < 360; i++) {
    sin_table[i] = static_cast<float>(std::sin(i * M_PI / 180.0));
    cos_table[i] = static_cast<float>(std::cos(i * M_PI / 180.0));
  }
}

void CParticleSystem::ProcessImage(CDib* image) {
  if (!image || !image->m_Bits) return;
  PIXEL key = image->GetPixel(0, 0);
  image->SetTransparentColor(key);
  size_t count = static_cast<size_t>(image->W) * image->H;
  for (size_t i = 0; i < count; i++) {
    PIXEL& p = image->m_Bits[i];
    if (p == key) continue;
    unsigned char r, g, b;
    ColorComponents(p, r, g, b);
    p = static_cast<PIXEL>(0.299 * r + 0.587 * g + 0.114 * b);
  }
}

// Emitters and particles ---------------------------------------------------------------

int CParticleSystem::CreateEmitter(int ParticleID, int x, int y, const Emitter* info) {
  if (!info) return 0;
  int slot = FindEmitter();
  if (slot < 0) return 0;
  CEmitter& e = m_Emitter[slot];
  e = CEmitter{};
  e.Notify = info->Notify;
  e.x = static_cast<float>(x);
  e.y = static_cast<float>(y);
  e.ParticleID = ParticleID;
  e.ColorVariation = info->ColorVariation;
  e.Lifetime = info->Lifetime;
  e.Gravity = info->Gravity;
  e.Speed = info->Speed;
  e.SpeedVariation = info->SpeedVariation;
  e.Angle = info->Angle < 0 ? -1.0f : std::fmod(Radians(info->Angle), kTwoPi);
  e.AngleVariation = Radians(info->AngleVariation);
  e.nParticles = info->nParticlesPerSec;
  e.EmitterRotationAngle = Radians(info->RotationAngle);
  e.Alive = 1;
  return slot + 1;
}

// Its particles fly on, no longer counted by the slot, which a new emitter
// may take.
void CParticleSystem::KillEmitter(int id) {
  if (id < 1 || id > kMaxEmitters) return;
  m_Emitter[id - 1] = CEmitter{};
  for (CParticle& p : m_Particle)
    if (p.EmitterID == id) p.EmitterID = 0;
}

void CParticleSystem::SerUserParticleType(int type, const ::UserParticleInfo* info) {
  if (type < 0 || type >= kUserTypes || !info) return;
  UserParticleInfo[type] = *info;
}

int CParticleSystem::CreateParticle(int type, float x, float y, float angle, float angvar,
                                    float speed, float speedvar, float gravity, int colvar) {
  if (type < 0 || type > 9) return 0;
  int slot = Find();
  if (slot < 0) return 0;
  CParticle& p = m_Particle[slot];
  p = CParticle{};
  const ::UserParticleInfo& u =
      type < kUserTypes ? UserParticleInfo[type] : kBuiltInTypes[type - kUserTypes];
  p.TextureID = u.TextureID;
  p.Lifetime = u.Lifetime;
  p.ColorStart = u.StartCol;
  p.ColorEnd = u.EndCol;
  p.SizeStart = u.SizeStart;
  p.SizeEnd = u.SizeEnd;
  p.Notify = u.Nofity;
  p.ColorStart.RandomVariation(colvar);
  p.ColorEnd.RandomVariation(colvar);
  int deg =
      angle < 0 ? ParticleRandom.Next() % 360 : Degree(angle + angvar * ParticleRandom.Signed());
  float v = speed + speedvar * ParticleRandom.Signed();
  p.x = x;
  p.y = y;
  p.VelocityX = v * cos_table[deg];
  p.VelocityY = -v * sin_table[deg];
  p.Gravity = gravity;
  p.Alive = 1;
  return slot + 1;
}

// Frames ---------------------------------------------------------------------------------

void CParticleSystem::Update(CDib* dib, int bmove) {
  for (CParticle& p : m_Particle) {
    if (!p.Alive) continue;
    if (dib && p.TextureID < kImages && pdib[p.TextureID].m_Bits && std::isfinite(p.x) &&
        std::isfinite(p.y)) {
      CDib& image = pdib[p.TextureID];
      float t = p.Lifetime > 0 ? p.Age / p.Lifetime : 1.0f;
      double s = p.SizeStart + (p.SizeEnd - p.SizeStart) * t;
      // Larger than any surface is as good as endless: the blit clips.
      int w = Truncate(image.W * s, 1 << 20), h = Truncate(image.H * s, 1 << 20);
      w += w & 1;
      h += h & 1;
      int opacity = Truncate(p.ColorStart.a + t * (p.ColorEnd.a - p.ColorStart.a), 255);
      if (opacity > 0 && w > 0 && h > 0) {
        int cx = Truncate(static_cast<double>(p.x) + OffsetX, 1 << 30);
        int cy = Truncate(static_cast<double>(p.y) + OffsetY, 1 << 30);
        ParticleBlt(dib, &image, cx, cy, w, h, p.ColorStart, p.ColorEnd, opacity);
      }
    }
    if (bmove) Move(p);
  }
  UpdateEmitter();
}

void CParticleSystem::Move(CParticle& p) {
  p.Age += TimeDelta;
  if (!(p.Age < p.Lifetime)) {
    p.Alive = 0;
    if ((p.Notify & 1) && hWindow)
      SendMessage(static_cast<HWND>(hWindow), kParticleDied, p.EmitterID,
                  reinterpret_cast<LPARAM>(&p));
    if (p.EmitterID >= 1 && p.EmitterID <= kMaxEmitters) {
      CEmitter& e = m_Emitter[p.EmitterID - 1];
      if (e.nCnt > 0) e.nCnt--;
    }
    return;
  }
  p.x += p.VelocityX;
  p.y += p.VelocityY;
  p.VelocityY += p.Gravity;
}

void CParticleSystem::UpdateEmitter() {
  for (int i = 0; i < kMaxEmitters; i++) {
    CEmitter& e = m_Emitter[i];
    if (!e.Alive) continue;
    e.Age += TimeDelta;
    if (e.Age < e.Lifetime) {
      // At most a table's worth a frame: a refused particle is owed again
      // next frame.
      double due = std::floor(static_cast<double>(e.Age) * e.nParticles) - e.nParticlesCreated;
      int owed = Truncate(due, kMaxParticles);
      float dx = e.x + OffsetX, dy = e.y + OffsetY;
      bool visible = dx >= kEmitLeft && dx < kEmitRight && dy >= kEmitTop && dy < kEmitBottom;
      for (int k = 0; k < owed; k++) {
        if (visible) {
          int slot = CreateParticle(e.ParticleID, e.x, e.y, e.Angle, e.AngleVariation, e.Speed,
                                    e.SpeedVariation, e.Gravity, e.ColorVariation);
          if (!slot) break;
          CParticle& p = m_Particle[slot - 1];
          p.EmitterID = static_cast<unsigned char>(i + 1);
          p.Notify = e.Notify;
          e.nCnt++;
        }
        e.nParticlesCreated++;
      }
    }
    // Turning keeps the angle within [0, 2 pi): a negative angle means every
    // direction and must not arise from a turn.
    if (e.Angle >= 0) {
      float a = std::fmod(e.Angle + e.EmitterRotationAngle, kTwoPi);
      e.Angle = a < 0 ? a + kTwoPi : (a == a ? a : 0.0f);
    }
    e.x += e.VelocityX;
    e.y += e.VelocityY;
    e.VelocityY += e.EmitterGravity;
    if (!(e.Age < e.Lifetime) && e.nCnt <= 0) {
      e.Alive = 0;
      if ((e.Notify & 2) && hWindow)
        SendMessage(static_cast<HWND>(hWindow), kEmitterDied, static_cast<WPARAM>(i + 1), 0);
    }
  }
}

void CParticleSystem::ParticleBlt(CDib* dst, CDib* image, int cx, int cy, int w, int h,
                                  const CColor& start, const CColor& end, int opacity) {
  if (!dst || !dst->m_Bits || !image || !image->m_Bits || w <= 0 || h <= 0) return;
  opacity = std::clamp(opacity, 0, 255);
  uint32_t format = DisplayProperties.ffFormat;
  if (!m_RampValid || !SameColour(start, m_RampStart) || !SameColour(end, m_RampEnd) ||
      opacity != m_RampOpacity || format != m_RampFormat) {
    PIXEL from = ColorValue(end.r, end.g, end.b), to = ColorValue(start.r, start.g, start.b);
    for (int level = 0; level < 256; level++) {
      m_Ramp[level] = ColorOnColor(from, to, level);
      m_AlphaRamp[level] = (level + 1) * opacity / 256;
    }
    m_RampStart = start;
    m_RampEnd = end;
    m_RampOpacity = opacity;
    m_RampFormat = format;
    m_RampValid = true;
  }

  const long long stepx = (static_cast<long long>(image->W) << 16) / w;
  const long long stepy = (static_cast<long long>(image->H) << 16) / h;
  const long long left = static_cast<long long>(cx) - w / 2,
                  top = static_cast<long long>(cy) - h / 2;
  const long long c0 = std::max(0LL, -left), c1 = std::min<long long>(w, dst->W - left);
  const long long r0 = std::max(0LL, -top), r1 = std::min<long long>(h, dst->H - top);
  const PIXEL key = image->TransparentColor;
  for (long long r = r0; r < r1; r++) {
    const PIXEL* src = image->m_Bits + static_cast<size_t>((r * stepy) >> 16) * image->W;
    PIXEL* row = dst->m_Bits + static_cast<size_t>(top + r) * dst->W;
    for (long long c = c0; c < c1; c++) {
      PIXEL v = src[(c * stepx) >> 16];
      if (v == key) continue;
      int level = std::min<int>(v, 255);
      PIXEL& d = row[left + c];
      d = ColorOnColorScreen(d, m_Ramp[level], m_AlphaRamp[level]);
    }
  }
}

// Bookkeeping ---------------------------------------------------------------------------

void CParticleSystem::Reset() {
  for (CParticle& p : m_Particle) p = CParticle{};
  for (CEmitter& e : m_Emitter) e = CEmitter{};
}

int CParticleSystem::Stress() const {
  int n = 0;
  for (const CParticle& p : m_Particle) n += p.Alive != 0;
  return n;
}

int CParticleSystem::Find() const {
  for (int i = 0; i < kMaxParticles; i++)
    if (!m_Particle[i].Alive) return i;
  return -1;
}

int CParticleSystem::FindEmitter() const {
  for (int i = 0; i < kMaxEmitters; i++)
    if (!m_Emitter[i].Alive) return i;
  return -1;
}
