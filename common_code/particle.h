// The sprite-particle engine: emitters spawn particles that fly, fall, grow,
// change colour and fade, drawn as tinted, scaled sprites screen-blended
// over a surface. The frame owns one instance, `particlesystem`, and updates
// it every frame; effects start with CreateEmitter.
//
// Angles of emitters and particles are radians, -1 meaning every direction;
// a direction a points along (cos a, -sin a) on the screen, so pi/2 is up.
#pragma once

#include <cstdint>

#include "common_code/dib.h"
#include "common_code/random.h"

// The particle engine's random source; Seed it to make effects repeat.
extern CRandom ParticleRandom;

class CParticleSystem;
// The program's one particle system, updated by the frame every frame.
extern CParticleSystem particlesystem;

struct CColor {
  unsigned char r = 0, g = 0, b = 0, a = 0;

  // Moves r, g and b each by a random amount in [-amount, amount], held
  // within 0..255; the alpha stays.
  void RandomVariation(int amount);
};

struct CParticle {
  unsigned char EmitterID = 0;  // 0 = none, else emitter slot + 1
  unsigned char TextureID = 0;  // image 0-3
  float x = 0, y = 0;
  float VelocityX = 0, VelocityY = 0;  // pixels per frame
  unsigned char Alive = 0;
  unsigned char Notify = 0;     // bit 0: tell the window when it dies
  float Age = 0, Lifetime = 0;  // seconds
  float Gravity = 0;            // added to VelocityY each frame
  CColor ColorStart, ColorEnd;
  float SizeStart = 0, SizeEnd = 0;  // multiples of the image size
};

struct CEmitter {
  int Alive = 0;
  unsigned char Notify = 0;  // bit 1: tell the window when it dies
  float x = 0, y = 0;
  int ParticleID = 0;  // the particle type it emits
  unsigned char ColorVariation = 0;
  float Age = 0, Lifetime = 0;  // seconds
  float Gravity = 0, Speed = 0, SpeedVariation = 0;
  float Angle = 0, AngleVariation = 0;  // radians; Angle -1: every direction
  float nParticles = 0;                 // per second
  int nCnt = 0;                         // its live particles
  int nParticlesCreated = 0;
  float EmitterRotationAngle = 0;  // radians per frame
  float EmitterGravity = 0;        // added to VelocityY each frame
  float VelocityX = 0, VelocityY = 0;
};

// What CreateEmitter is given; angles in degrees.
struct Emitter {
  float Lifetime = 0;
  float Gravity = 0;
  float Speed = 0;
  float SpeedVariation = 0;
  float nParticlesPerSec = 0;
  unsigned char ColorVariation = 0;
  float Angle = 0;  // negative: every direction
  float AngleVariation = 0;
  float RotationAngle = 0;  // per frame
  unsigned char Notify = 0;
};

// A programmable particle type (0-4).
struct UserParticleInfo {
  unsigned char TextureID = 0;
  float Lifetime = 2.0f;
  CColor StartCol{255, 128, 128, 255};
  CColor EndCol{255, 255, 0, 0};
  float SizeStart = 0.25f, SizeEnd = 1.0f;
  unsigned char Nofity = 0;
};

class CParticleSystem {
 public:
  static constexpr int kImages = 5;
  static constexpr int kUserTypes = 5;
  static constexpr int kMaxParticles = 512;
  static constexpr int kMaxEmitters = 25;

  // Window messages a particle (bit 0 of its Notify) and an emitter (bit 1)
  // send when they die.
  static constexpr unsigned kParticleDied = 1224;
  static constexpr unsigned kEmitterDied = 1225;

  CParticleSystem() = default;
  CParticleSystem(const CParticleSystem&) = delete;
  CParticleSystem& operator=(const CParticleSystem&) = delete;

  // Keeps the window, builds the tables, takes the frame time (`delta`
  // milliseconds) and loads the bitmap resources "smoke", "spark", "bubble"
  // and "flare" into images 0-3 as grey levels (see ProcessImage). On a
  // failure it says "Unable to initialise particle system" with the image's
  // name as caption and returns 0.
  int Init(void* hwnd, float delta);
  void BuildTables();
  // Makes the image's top-left pixel its transparent colour and every other
  // pixel its grey level, truncate(0.299 r + 0.587 g + 0.114 b), 0..255.
  void ProcessImage(CDib* image);

  // Starts an emitter of particle type `ParticleID` at (x, y). Returns its
  // ID (slot + 1), or 0 when all 25 are busy or `info` is null.
  int CreateEmitter(int ParticleID, int x, int y, const Emitter* info);
  void KillEmitter(int id);
  // Replaces user type 0-4; other types are ignored.
  void SerUserParticleType(int type, const ::UserParticleInfo* info);
  // A particle of type 0-9 at (x, y) moving at `speed` (+ up to `speedvar`
  // either way) in direction `angle` (+ up to `angvar` either way; a negative
  // angle: any direction), its colours varied by up to `colvar`. Returns its
  // slot + 1, or 0 when all 512 are alive or the type is unknown.
  int CreateParticle(int type, float x, float y, float angle, float angvar, float speed,
                     float speedvar, float gravity, int colvar);

  // Draws every live particle onto `dib` (when not null) and, with `bmove`,
  // moves it; then runs the emitters.
  void Update(CDib* dib, int bmove);
  // Ages and moves one particle; it dies when its age reaches its lifetime,
  // and with bit 0 of its Notify the window is sent kParticleDied (wParam:
  // its emitter's ID, lParam: the particle).
  void Move(CParticle& p);
  // Ages, runs, turns and moves every live emitter, creating the particles
  // it owes; an emitter past its lifetime dies with its last particle, and
  // with bit 1 of its Notify the window is sent kEmitterDied (wParam: its
  // ID).
  void UpdateEmitter();
  // Draws `image` scaled to w x h centred on (cx, cy) of `dst`: each pixel,
  // a grey level, becomes the colour ramp's colour from `end` (level 0) to
  // `start` (level 255), screen-blended at (level + 1) * opacity / 256.
  void ParticleBlt(CDib* dst, CDib* image, int cx, int cy, int w, int h, const CColor& start,
                   const CColor& end, int opacity);

  // Kills every particle and emitter.
  void Reset();
  // The number of live particles.
  int Stress() const;
  // The first free particle or emitter slot, or -1.
  int Find() const;
  int FindEmitter() const;

  CDib pdib[kImages];
  float TimeDelta = 0;  // seconds per frame
  void* hWindow = nullptr;
  int OffsetX = 0, OffsetY = 0;  // added to every position when drawing
  ::UserParticleInfo UserParticleInfo[kUserTypes];
  CParticle m_Particle[kMaxParticles];
  CEmitter m_Emitter[kMaxEmitters];
  float sin_table[360] = {};
  float cos_table[360] = {};

 private:
  // The ramps of the last ParticleBlt and what they were made from.
  PIXEL m_Ramp[256] = {};
  int m_AlphaRamp[256] = {};
  bool m_RampValid = false;
  CColor m_RampStart, m_RampEnd;
  int m_RampOpacity = -1;
  uint32_t m_RampFormat = 0;
};
