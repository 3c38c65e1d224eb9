#ifndef CONTROLQ4_H
#define CONTROLQ4_H

// The effect's handles on the host's controls. Each object is bound once to
// its control number, its host record and its auxiliary record (the effect
// writes those fields at start-up), then caches the host value in effect
// units (Sync), writes values back (SetValue), reads cached or animated
// values (GetValue), hides or shows its host controls (Hide) and locks or
// unlocks them (Disable). Unbound objects must not be called.

#include <cstdint>

#include "spark.h"

class ControlQ4 {
 public:
  virtual void Sync();
  virtual void Disable(bool d);
  virtual void Hide(bool h);
  virtual void ResetKeyframes();
  virtual void EnableKeyframes();

  int number = 0;
  bool disabled = false;
  bool hidden = false;
  bool spare_flags[2] = {false, false};
  bool reprocess = true;  // the control callback re-processes or redraws after a change

 protected:
  ~ControlQ4() = default;  // never deleted through the base
  // Shows (hide false) or hides control k in the host's panel.
  static void ShowHost(bool hide, int k);
  // Records h, then hides or shows controls number to number + count - 1 in
  // that order.
  void SetHidden(bool h, int count = 1);
  // Runs change only when d differs from the recorded state, then records d:
  // the host sees one update per change of state, never a repeat.
  template <typename Change>
  void SetDisabled(bool d, Change change) {
    if (d != disabled) change();
    disabled = d;
  }
};

class IntegerControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, long v);
  // A negative frame gives the cached value, else the host curve truncated.
  void GetValue(double frame, long& v);

  SparkInt* record = nullptr;
  AuxQ4Integer* aux = nullptr;
  int value = 0;
};

class FloatControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, double v);
  void GetValue(double frame, double& v);

  SparkFloat* record = nullptr;
  AuxQ4Float* aux = nullptr;
  double value = 0.0;
};

// The host holds percent of the frame; the cache a fraction.
class SizeControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, double v);
  void GetValue(double frame, double& v);

  SparkFloat* record = nullptr;
  AuxQ4Size* aux = nullptr;
  double value = 0.0;
};

class AngleControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, double v);
  void GetValue(double frame, double& v);  // the cached degrees

  SparkFloat* record = nullptr;
  AuxQ4Angle* aux = nullptr;
  double value = 0.0;
};

// The host holds a 0-based item; the cache is 1-based.
class ListControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, long v);
  void GetValue(double frame, long& v);  // re-reads the host item

  SparkPup* record = nullptr;
  AuxQ4List* aux = nullptr;
  int value = 1;
};

class CheckboxControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  // Writes the low byte of v; v exactly 1 clears the rest of the group.
  void SetValue(double frame, long v);
  void GetValue(double frame, long& v);

  SparkBoolean* record = nullptr;
  int saved = 0;  // host value byte kept by Disable, written back while locked
  AuxQ4Checkbox* aux = nullptr;
  unsigned char value = 0;
};

// X is control number, Y is number + 1, both percent of the frame in the
// host. Sync leaves the cache alone: the effect writes X / 100 and Y / 100.
class PositionControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, double vx, double vy);
  void GetValue(double frame, double& vx, double& vy);

  SparkFloat* x_record = nullptr;
  SparkFloat* y_record = nullptr;
  AuxQ4Position* aux = nullptr;
  double x = 0.0;
  double y = 0.0;
};

class TextControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, const char* s);
  void GetValue(double frame, char*& s);

  SparkString* record = nullptr;
  char* value = nullptr;  // host text, or a buffer of at least SPARK_STRING_LEN
};

// The file-name text is the string control number + 7; control number itself
// carries the title.
class FileControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, const char* s);
  // The host file name with every white-space character removed in place.
  void GetValue(double frame, char*& s);

  SparkString* record = nullptr;
  SparkPush* title_record = nullptr;
  char* value = nullptr;  // host text, or a buffer of at least SPARK_STRING_LEN
};

// The host colour word holds R, G, B in bits 0-7, 8-15, 16-23; the cache
// holds 15-bit channels. With sliders, controls number + 1 to + 3 are R, G,
// B in 0 to 100.
class ColourControlQ4 : public ControlQ4 {
 public:
  void Sync() override;
  void Disable(bool d) override;
  void Hide(bool h) override;
  void SetValue(double frame, unsigned short vr, unsigned short vg, unsigned short vb,
                unsigned short va);
  void GetValue(double frame, unsigned short& vr, unsigned short& vg, unsigned short& vb,
                unsigned short& va);

  uint32_t* record = nullptr;
  bool sliders = false;
  uint32_t* copy = nullptr;  // receives the colour word on every Disable
  SparkFloat* slider[3] = {nullptr, nullptr, nullptr};
  unsigned short r = 0;
  unsigned short g = 0;
  unsigned short b = 0;
  unsigned short a = 0;
};

class ButtonControlQ4 : public ControlQ4 {
 public:
  void Disable(bool d) override;
  void Hide(bool h) override;

  SparkPush* record = nullptr;
};

#endif
