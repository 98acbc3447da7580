// The particle system: loading and grey conversion of its images, particle
// types and emitters, moving, the emitters' bookkeeping, drawing with the
// colour and alpha ramps, and a golden image of a seeded burst.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "common_code/dib.h"
#include "common_code/particle.h"
#include "support/alerts.h"
#include "support/golden.h"
#include "support/headless.h"
#include "support/pixel_format.h"

namespace {

using testing_support::AlertRecorder;
using testing_support::MatchesGolden;
using testing_support::ScopedPixelFormat;

class Particles : public ::testing::Test {
 protected:
  ScopedPixelFormat layout{kfDirect555};
  // The system is large (512 particles): on the heap, one per test.
  std::unique_ptr<CParticleSystem> ps = std::make_unique<CParticleSystem>();

  void SetUp() override {
    ParticleRandom.Seed(1);
    AlertRecorder alerts;
    ASSERT_EQ(ps->Init(nullptr, 33.0f), 1);
    ASSERT_TRUE(alerts.Alerts.empty());
  }
  static std::vector<PIXEL> Pixels(const CDib& d) {
    return std::vector<PIXEL>(d.m_Bits, d.m_Bits + static_cast<size_t>(d.W) * d.H);
  }
  static int Inked(const CDib& d) {
    int n = 0;
    for (int i = 0; i < d.W * d.H; i++) n += d.m_Bits[i] != 0;
    return n;
  }
  static Emitter Fountain() {
    Emitter e;
    e.Lifetime = 1.0f;
    e.Speed = 2.0f;
    e.nParticlesPerSec = 60.0f;
    e.Angle = 90.0f;
    return e;
  }
};

TEST_F(Particles, InitLoadsFourGreyImagesAndTakesTheFrameTimeInSeconds) {
  EXPECT_FLOAT_EQ(ps->TimeDelta, 0.033f);
  EXPECT_FLOAT_EQ(ps->sin_table[90], 1.0f);
  EXPECT_FLOAT_EQ(ps->cos_table[0], 1.0f);
  for (int i = 0; i < 4; i++) {
    const CDib& image = ps->pdib[i];
    ASSERT_EQ(image.W, 64) << i;
    ASSERT_EQ(image.H, 64) << i;
    int ink = 0;
    for (int k = 0; k < image.W * image.H; k++) {
      PIXEL p = image.m_Bits[k];
      if (p == image.TransparentColor) continue;
      ASSERT_LE(p, 255) << "image " << i << " holds grey levels";
      ink++;
    }
    EXPECT_GT(ink, 0) << i;
  }
  EXPECT_EQ(ps->pdib[4].m_Bits, nullptr);
}

TEST_F(Particles, ProcessImageKeepsTheKeyColourAndMakesEveryOtherPixelItsGreyLevel) {
  CDib image;
  ASSERT_EQ(image.Create(3, 1), 1);
  PIXEL key = ColorValue(0, 0, 248);
  image.SetPixel(0, 0, key);
  image.SetPixel(1, 0, ColorValue(255, 255, 255));
  image.SetPixel(2, 0, ColorValue(200, 100, 40));
  ps->ProcessImage(&image);
  EXPECT_EQ(image.TransparentColor, key);
  EXPECT_EQ(image.GetPixel(0, 0), key);
  EXPECT_EQ(image.GetPixel(1, 0), 248);  // components 248, 248, 248
  EXPECT_EQ(image.GetPixel(2, 0), static_cast<int>(0.299 * 200 + 0.587 * 96 + 0.114 * 40));
}

TEST_F(Particles, NewSystemHasNothingAliveAndDefaultUserTypes) {
  CParticleSystem fresh;
  EXPECT_EQ(fresh.Stress(), 0);
  EXPECT_EQ(fresh.Find(), 0);
  EXPECT_EQ(fresh.FindEmitter(), 0);
  EXPECT_EQ(fresh.OffsetX, 0);
  const UserParticleInfo& u = fresh.UserParticleInfo[3];
  EXPECT_EQ(u.TextureID, 0);
  EXPECT_FLOAT_EQ(u.Lifetime, 2.0f);
  EXPECT_EQ(u.StartCol.g, 128);
  EXPECT_EQ(u.EndCol.a, 0);
  EXPECT_FLOAT_EQ(u.SizeEnd, 1.0f);
}

TEST_F(Particles, UpdateWithoutEmittersOrParticlesChangesNothing) {
  CDib screen;
  ASSERT_EQ(screen.Create(240, 320), 1);
  screen.Clear(ColorValue(10, 20, 30));
  std::vector<PIXEL> before = Pixels(screen);
  for (int frame = 0; frame < 10; frame++) ps->Update(&screen, 1);
  EXPECT_EQ(Pixels(screen), before);
  EXPECT_EQ(ps->Stress(), 0);
  EXPECT_EQ(ps->FindEmitter(), 0);
}

TEST_F(Particles, CreateParticleTakesTheFirstFreeSlotWithItsTypesLookAndVelocity) {
  int a = ps->CreateParticle(7, 10, 20, static_cast<float>(M_PI / 2), 0, 2.0f, 0, 0.5f, 0);
  ASSERT_EQ(a, 1);
  const CParticle& p = ps->m_Particle[0];
  EXPECT_EQ(p.TextureID, 1);
  EXPECT_FLOAT_EQ(p.Lifetime, 1.5f);
  EXPECT_EQ(p.ColorStart.g, 255);
  EXPECT_EQ(p.ColorEnd.r, 255);
  EXPECT_FLOAT_EQ(p.SizeStart, 0.25f);
  EXPECT_NEAR(p.VelocityX, 0.0f, 1e-6);
  EXPECT_FLOAT_EQ(p.VelocityY, -2.0f);  // up the screen
  EXPECT_FLOAT_EQ(p.Gravity, 0.5f);
  EXPECT_EQ(ps->CreateParticle(9, 0, 0, 0, 0, 3.0f, 0, 0, 0), 2);
  EXPECT_FLOAT_EQ(ps->m_Particle[1].VelocityX, 3.0f);
  ps->m_Particle[0].Alive = 0;
  EXPECT_EQ(ps->CreateParticle(5, 0, 0, 0, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(ps->CreateParticle(10, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(ps->CreateParticle(-1, 0, 0, 0, 0, 0, 0, 0, 0), 0);
}

TEST_F(Particles, UserTypesReplaceTypesZeroToFour) {
  UserParticleInfo info;
  info.TextureID = 2;
  info.Lifetime = 0.5f;
  info.StartCol = {1, 2, 3, 4};
  info.Nofity = 1;
  ps->SerUserParticleType(4, &info);
  ps->SerUserParticleType(5, &info);  // not a user type
  ASSERT_EQ(ps->CreateParticle(4, 0, 0, 0, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(ps->m_Particle[0].TextureID, 2);
  EXPECT_FLOAT_EQ(ps->m_Particle[0].Lifetime, 0.5f);
  EXPECT_EQ(ps->m_Particle[0].ColorStart.b, 3);
  EXPECT_EQ(ps->m_Particle[0].Notify, 1);
  ASSERT_EQ(ps->CreateParticle(5, 0, 0, 0, 0, 0, 0, 0, 0), 2);
  EXPECT_FLOAT_EQ(ps->m_Particle[1].Lifetime, 2.0f);
}

TEST_F(Particles, VariationsSpreadAroundTheBaseAndRepeatWithTheSeed) {
  auto run = [&]() {
    ParticleRandom.Seed(77);
    std::vector<float> out;
    for (int i = 0; i < 50; i++) {
      ps->Reset();
      ps->CreateParticle(6, 0, 0, 1.0f, 0.5f, 4.0f, 1.0f, 0, 40);
      const CParticle& p = ps->m_Particle[0];
      float speed = std::hypot(p.VelocityX, p.VelocityY);
      EXPECT_GE(speed, 3.0f - 1e-4f);
      EXPECT_LE(speed, 5.0f + 1e-4f);
      float angle = std::atan2(-p.VelocityY, p.VelocityX);
      EXPECT_GE(angle, 0.5f - 0.02f);
      EXPECT_LE(angle, 1.5f + 0.02f);
      EXPECT_GE(p.ColorStart.r, 215);  // 255 - 40
      EXPECT_LE(p.ColorEnd.g, 40);
      EXPECT_EQ(p.ColorStart.a, 255);  // alpha is not varied
      out.push_back(p.VelocityX);
      out.push_back(p.ColorStart.b);
    }
    return out;
  };
  std::vector<float> first = run(), second = run();
  EXPECT_EQ(first, second);
  CColor c{0, 128, 255, 9};
  c.RandomVariation(0);
  EXPECT_EQ(c.g, 128);
}

TEST_F(Particles, AParticleMovesByItsVelocityUnderGravityAndDiesAtItsLifetime) {
  ASSERT_EQ(ps->CreateParticle(7, 100, 100, 0, 0, 2.0f, 0, 0.25f, 0), 1);  // 1.5 s
  CParticle& p = ps->m_Particle[0];
  ps->Move(p);
  EXPECT_FLOAT_EQ(p.x, 102.0f);
  EXPECT_FLOAT_EQ(p.y, 100.0f);
  EXPECT_FLOAT_EQ(p.VelocityY, 0.25f);
  ps->Move(p);
  EXPECT_FLOAT_EQ(p.y, 100.25f);
  int frames = 2;
  while (p.Alive && frames < 1000) {
    ps->Move(p);
    frames++;
  }
  EXPECT_EQ(frames, static_cast<int>(std::ceil(1.5f / 0.033f)));
}

TEST_F(Particles, ParticleOfOpacityZeroIsMovedButNotDrawn) {
  UserParticleInfo clear;
  clear.StartCol.a = 0;
  clear.EndCol.a = 0;
  ps->SerUserParticleType(0, &clear);
  ASSERT_EQ(ps->CreateParticle(0, 120, 160, 0, 0, 3.0f, 0, 0, 0), 1);
  CDib screen;
  ASSERT_EQ(screen.Create(240, 320), 1);
  screen.Clear(0);
  ps->Update(&screen, 1);
  EXPECT_EQ(Inked(screen), 0);
  EXPECT_FLOAT_EQ(ps->m_Particle[0].x, 123.0f);
}

TEST_F(Particles, UpdateWithoutMoveDrawsButKeepsParticlesWhereTheyAre) {
  ASSERT_EQ(ps->CreateParticle(9, 120, 160, 0, 0, 3.0f, 0, 0, 0), 1);
  CDib screen;
  ASSERT_EQ(screen.Create(240, 320), 1);
  screen.Clear(0);
  ps->Update(&screen, 0);
  EXPECT_GT(Inked(screen), 0);
  EXPECT_FLOAT_EQ(ps->m_Particle[0].x, 120.0f);
  EXPECT_FLOAT_EQ(ps->m_Particle[0].Age, 0.0f);
}

TEST_F(Particles, ParticleBltScalesTheImageAboutItsCentreThroughTheRamps) {
  CDib image;
  ASSERT_EQ(image.Create(4, 4), 1);
  image.Clear(300);  // the key: no grey level
  image.SetTransparentColor(300);
  image.SetPixel(0, 0, 255);
  image.SetPixel(3, 3, 0);
  CDib d;
  ASSERT_EQ(d.Create(20, 20), 1);
  d.Clear(0);
  CColor start{255, 0, 0, 255}, end{0, 0, 255, 255};
  ps->ParticleBlt(&d, &image, 10, 10, 8, 8, start, end, 255);
  // Level 255 is the start colour at alpha 255; level 0 the end colour at
  // alpha (0 + 1) * 255 / 256 = 0: invisible.
  PIXEL red = ColorOnColorScreen(0, ColorValue(255, 0, 0), 255);
  for (int y = 6; y < 8; y++)
    for (int x = 6; x < 8; x++) EXPECT_EQ(d.GetPixel(x, y), red) << x << "," << y;
  EXPECT_EQ(d.GetPixel(8, 6), 0);
  EXPECT_EQ(d.GetPixel(13, 13), 0);
  EXPECT_EQ(Inked(d), 4);

  // A level between blends the ramp colour at its alpha ramp value.
  image.SetPixel(3, 3, 128);
  d.Clear(0);
  ps->ParticleBlt(&d, &image, 10, 10, 4, 4, start, end, 200);
  PIXEL mid = ColorOnColor(ColorValue(0, 0, 255), ColorValue(255, 0, 0), 128);
  EXPECT_EQ(d.GetPixel(11, 11), ColorOnColorScreen(0, mid, 129 * 200 / 256));
}

TEST_F(Particles, ParticleBltClipsAtEveryEdgeAndRebuildsItsRampsForANewLayout) {
  CDib d;
  ASSERT_EQ(d.Create(30, 20), 1);
  d.Clear(0);
  CColor white{255, 255, 255, 255};
  for (int cx : {-40, -5, 0, 15, 29, 34, 1000000})
    for (int cy : {-40, -3, 0, 10, 19, 25, -1000000})
      ps->ParticleBlt(&d, &ps->pdib[3], cx, cy, 64, 64, white, white, 255);
  ps->ParticleBlt(&d, &ps->pdib[0], 15, 10, 1 << 20, 1 << 20, white, white, 255);
  ps->ParticleBlt(&d, &ps->pdib[0], 15, 10, 0, 64, white, white, 255);

  CDib one;
  ASSERT_EQ(one.Create(1, 1), 1);
  one.SetPixel(0, 0, 0);
  CDib image;
  ASSERT_EQ(image.Create(1, 1), 1);
  image.SetTransparentColor(300);
  image.SetPixel(0, 0, 255);
  ps->ParticleBlt(&one, &image, 0, 0, 2, 2, white, white, 255);
  EXPECT_EQ(one.GetPixel(0, 0), 0x7FFF);
  ScopedPixelFormat other(kfDirect565);
  one.SetPixel(0, 0, 0);
  ps->ParticleBlt(&one, &image, 0, 0, 2, 2, white, white, 255);
  EXPECT_EQ(one.GetPixel(0, 0), 0xFFFF);
}

TEST_F(Particles, TwentySixthEmitterIsRefusedAndAnglesBecomeRadians) {
  Emitter info = Fountain();
  info.AngleVariation = 180.0f;
  info.RotationAngle = 90.0f;
  for (int i = 0; i < 25; i++) ASSERT_EQ(ps->CreateEmitter(7, 0, 0, &info), i + 1);
  EXPECT_EQ(ps->CreateEmitter(7, 0, 0, &info), 0);
  EXPECT_EQ(ps->CreateEmitter(7, 0, 0, nullptr), 0);
  const CEmitter& e = ps->m_Emitter[0];
  EXPECT_NEAR(e.Angle, M_PI / 2, 1e-6);
  EXPECT_NEAR(e.AngleVariation, M_PI, 1e-6);
  EXPECT_NEAR(e.EmitterRotationAngle, M_PI / 2, 1e-6);
  EXPECT_FLOAT_EQ(e.nParticles, 60.0f);
  ps->KillEmitter(3);
  info.Angle = -10.0f;
  EXPECT_EQ(ps->CreateEmitter(7, 0, 0, &info), 3);
  EXPECT_FLOAT_EQ(ps->m_Emitter[2].Angle, -1.0f);
}

TEST_F(Particles, EmitterOwesParticlesByItsAgeAndRate) {
  Emitter info = Fountain();  // 60 a second, 33 ms frames: about 2 a frame
  ASSERT_EQ(ps->CreateEmitter(5, 120, 160, &info), 1);
  const CEmitter& e = ps->m_Emitter[0];
  ps->UpdateEmitter();
  EXPECT_EQ(e.nParticlesCreated, static_cast<int>(0.033f * 60.0f));
  for (int i = 0; i < 9; i++) ps->UpdateEmitter();
  float age = 0;
  for (int i = 0; i < 10; i++) age += 0.033f;
  EXPECT_EQ(e.nParticlesCreated, static_cast<int>(std::floor(age * 60.0f)));
  EXPECT_EQ(ps->Stress(), e.nParticlesCreated);
  EXPECT_EQ(e.nCnt, e.nParticlesCreated);
  for (const CParticle& p : ps->m_Particle)
    if (p.Alive) {
      EXPECT_EQ(p.EmitterID, 1);
    }
}

TEST_F(Particles, EmitterOffTheDrawnAreaCountsItsParticlesWithoutMakingThem) {
  Emitter info = Fountain();
  ASSERT_EQ(ps->CreateEmitter(5, 300, 160, &info), 1);
  for (int i = 0; i < 10; i++) ps->UpdateEmitter();
  EXPECT_GT(ps->m_Emitter[0].nParticlesCreated, 0);
  EXPECT_EQ(ps->Stress(), 0);
  // The offsets move the drawn position into the area.
  ps->OffsetX = -100;
  ps->UpdateEmitter();
  EXPECT_GT(ps->Stress(), 0);
}

TEST_F(Particles, The513thParticleIsRefusedAndOwedAgainNextFrame) {
  for (int i = 0; i < 512; i++) ASSERT_EQ(ps->CreateParticle(9, 0, 0, 0, 0, 0, 0, 0, 0), i + 1);
  EXPECT_EQ(ps->CreateParticle(9, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  Emitter info = Fountain();
  ASSERT_EQ(ps->CreateEmitter(5, 120, 160, &info), 1);
  const CEmitter& e = ps->m_Emitter[0];
  ps->UpdateEmitter();
  ps->UpdateEmitter();
  EXPECT_EQ(e.nParticlesCreated, 0);
  EXPECT_EQ(e.nCnt, 0);
  ps->m_Particle[100].Alive = 0;
  ps->UpdateEmitter();
  EXPECT_EQ(e.nParticlesCreated, 1);
  EXPECT_EQ(ps->m_Particle[100].EmitterID, 1);
  EXPECT_EQ(ps->Stress(), 512);
}

TEST_F(Particles, EmitterDiesAfterItsLifetimeOnlyOnceItsLastParticleIsGone) {
  Emitter info = Fountain();
  info.Lifetime = 0.1f;
  ASSERT_EQ(ps->CreateEmitter(7, 120, 160, &info), 1);  // sparks live 1.5 s
  int frames = 0;
  while (ps->m_Emitter[0].Alive && frames < 1000) {
    ps->Update(nullptr, 1);
    frames++;
    if (ps->m_Emitter[0].Age >= 0.1f && ps->m_Emitter[0].Alive) {
      EXPECT_GT(ps->Stress(), 0);
    }
  }
  EXPECT_EQ(ps->Stress(), 0);
  EXPECT_GT(frames, 1.5f / 0.033f);
  EXPECT_LT(frames, 1000);
}

TEST_F(Particles, EmitterTurnsWithinAFullCircleAndMovesUnderItsGravity) {
  Emitter info = Fountain();
  info.Lifetime = 100.0f;
  info.RotationAngle = -100.0f;
  info.nParticlesPerSec = 0;
  ASSERT_EQ(ps->CreateEmitter(5, 10, 10, &info), 1);
  CEmitter& e = ps->m_Emitter[0];
  e.VelocityX = 1.0f;
  e.EmitterGravity = 0.5f;
  for (int i = 0; i < 20; i++) {
    ps->UpdateEmitter();
    ASSERT_GE(e.Angle, 0.0f);
    ASSERT_LT(e.Angle, 2 * M_PI);
  }
  EXPECT_FLOAT_EQ(e.x, 30.0f);
  EXPECT_FLOAT_EQ(e.VelocityY, 10.0f);
  info.Angle = -1.0f;
  ASSERT_EQ(ps->CreateEmitter(5, 10, 10, &info), 2);
  ps->UpdateEmitter();
  EXPECT_FLOAT_EQ(ps->m_Emitter[1].Angle, -1.0f);
}

TEST_F(Particles, KilledEmittersParticlesFlyOnWithoutTouchingTheSlotsNextOwner) {
  Emitter info = Fountain();
  ASSERT_EQ(ps->CreateEmitter(7, 120, 160, &info), 1);
  for (int i = 0; i < 5; i++) ps->UpdateEmitter();
  int alive = ps->Stress();
  ASSERT_GT(alive, 0);
  ps->KillEmitter(1);
  for (const CParticle& p : ps->m_Particle) EXPECT_EQ(p.EmitterID, 0);
  info.nParticlesPerSec = 0;
  ASSERT_EQ(ps->CreateEmitter(7, 0, 0, &info), 1);
  ps->m_Emitter[0].nCnt = 1;
  for (int i = 0; i < 100; i++) ps->Update(nullptr, 1);
  EXPECT_EQ(ps->m_Emitter[0].nCnt, 1);
  ps->Reset();
  EXPECT_EQ(ps->Stress(), 0);
  EXPECT_EQ(ps->FindEmitter(), 0);
}

TEST_F(Particles, WildValuesGiveWildEffectsButStayOnTheSurface) {
  UserParticleInfo huge;
  huge.SizeStart = 1e30f;
  huge.SizeEnd = -1e30f;
  ps->SerUserParticleType(1, &huge);
  UserParticleInfo endless;
  endless.Lifetime = NAN;
  ps->SerUserParticleType(2, &endless);
  ps->CreateParticle(1, 120, 160, 0, 0, 0, 0, 0, 0);
  ps->CreateParticle(2, 120, 160, 0, 0, 0, 0, 0, 0);
  ps->CreateParticle(9, INFINITY, NAN, NAN, INFINITY, 1e30f, NAN, 1e30f, 100000);
  Emitter wild = Fountain();
  wild.nParticlesPerSec = 1e30f;
  wild.RotationAngle = NAN;
  ps->CreateEmitter(9, 120, 160, &wild);
  ps->OffsetX = INT32_MAX;
  CDib screen;
  ASSERT_EQ(screen.Create(240, 320), 1);
  screen.Clear(0);
  for (int i = 0; i < 5; i++) ps->Update(&screen, 1);
  ps->OffsetX = 0;
  for (int i = 0; i < 5; i++) ps->Update(&screen, 1);
  EXPECT_LE(ps->Stress(), CParticleSystem::kMaxParticles);
}

// The window the system was given is told of deaths, synchronously: a
// particle's (bit 0 of its notify flags) with its emitter and itself, an
// emitter's (bit 1) with its ID once its last particle is gone.
std::vector<MSG> g_Told;

LRESULT CALLBACK TellingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == CParticleSystem::kParticleDied || message == CParticleSystem::kEmitterDied)
    g_Told.push_back(MSG{hwnd, message, wParam, lParam, 0, {0, 0}});
  return DefWindowProc(hwnd, message, wParam, lParam);
}

TEST_F(Particles, DeathsAreSentToTheWindowWhenAsked) {
  headless::Use();
  WNDCLASS wc{};
  wc.lpfnWndProc = TellingProc;
  wc.lpszClassName = "ParticleWindow";
  RegisterClass(&wc);
  HWND hwnd =
      CreateWindowEx(0, "ParticleWindow", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_EQ(ps->Init(hwnd, 33.0f), 1);
  g_Told.clear();

  Emitter told = Fountain();
  told.Lifetime = 0.05f;  // makes one or two sparks, then waits for them
  told.Notify = 3;
  ASSERT_EQ(ps->CreateEmitter(7, 120, 160, &told), 1);
  Emitter quiet = Fountain();
  quiet.Lifetime = 0.05f;
  ASSERT_EQ(ps->CreateEmitter(7, 120, 160, &quiet), 2);
  int frames = 0;
  while ((ps->m_Emitter[0].Alive || ps->m_Emitter[1].Alive) && frames++ < 1000)
    ps->Update(nullptr, 1);

  int particleDeaths = 0, emitterDeaths = 0;
  for (const MSG& m : g_Told) {
    EXPECT_EQ(m.hwnd, hwnd);
    if (m.message == CParticleSystem::kParticleDied) {
      particleDeaths++;
      EXPECT_EQ(m.wParam, 1u);
      const auto* p = reinterpret_cast<const CParticle*>(m.lParam);
      EXPECT_GE(p, ps->m_Particle);
      EXPECT_LT(p, ps->m_Particle + CParticleSystem::kMaxParticles);
      EXPECT_EQ(p->EmitterID, 1);
    } else {
      emitterDeaths++;
      EXPECT_EQ(m.wParam, 1u);
      EXPECT_EQ(particleDeaths, ps->m_Emitter[0].nParticlesCreated);  // after its last particle
    }
  }
  EXPECT_EQ(particleDeaths, ps->m_Emitter[0].nParticlesCreated);
  EXPECT_GT(particleDeaths, 0);
  EXPECT_EQ(emitterDeaths, 1);
  DestroyWindow(hwnd);
}

// A seeded burst of sparks and flares over a dark background after 20
// frames: the random source makes it repeat exactly.
TEST_F(Particles, GoldenSeededBurst) {
  ParticleRandom.Seed(2024);
  ps->Reset();
  Emitter sparks;
  sparks.Lifetime = 0.4f;
  sparks.Speed = 3.0f;
  sparks.SpeedVariation = 1.5f;
  sparks.nParticlesPerSec = 150.0f;
  sparks.ColorVariation = 30;
  sparks.Angle = 90.0f;
  sparks.AngleVariation = 50.0f;
  sparks.Gravity = 0.15f;
  ASSERT_EQ(ps->CreateEmitter(7, 80, 200, &sparks), 1);
  Emitter flares;
  flares.Lifetime = 0.5f;
  flares.Speed = 1.0f;
  flares.nParticlesPerSec = 20.0f;
  flares.Angle = 0.0f;
  flares.RotationAngle = 30.0f;
  ASSERT_EQ(ps->CreateEmitter(9, 170, 120, &flares), 2);
  ps->CreateParticle(8, 40, 60, -1, 0, 0.5f, 0, 0, 0);  // a bubble, any direction
  CDib screen;
  ASSERT_EQ(screen.Create(240, 320), 1);
  for (int frame = 0; frame < 20; frame++) {
    screen.VGradient(ColorValue(0, 0, 40), ColorValue(40, 0, 60));
    ps->Update(&screen, 1);
  }
  EXPECT_GT(ps->Stress(), 10);
  EXPECT_TRUE(MatchesGolden(screen, "particle-burst"));
}

}  // namespace
