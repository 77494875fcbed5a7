// Host time: a fraction of seconds. Frame f at rate r is the time f / r.
#pragma once

#include <cmath>

#include "ge_types.h"

class BaseTime {
 public:
  BaseTime() = default;
  // Seconds.
  explicit BaseTime(Real seconds) : m_numerator(seconds), m_denominator(1.0) {}
  // numerator / denominator seconds; a denominator of 0 counts as 1.
  BaseTime(Real numerator, Real denominator)
      : m_numerator(numerator), m_denominator(denominator != 0.0 ? denominator : 1.0) {}

  Real Get() const { return m_numerator / m_denominator; }
  Real GetNumerator() const { return m_numerator; }
  Real GetDenominator() const { return m_denominator; }
  // The frame at rate fps: floor(numerator * fps) / floor(denominator), a whole-number
  // division.
  LONG GetFrame(Real fps) const {
    const LLONG numerator = static_cast<LLONG>(std::floor(m_numerator * fps));
    const LLONG denominator = static_cast<LLONG>(std::floor(m_denominator));
    return static_cast<LONG>(denominator != 0 ? numerator / denominator : numerator);
  }

  bool operator==(const BaseTime& o) const { return Get() == o.Get(); }
  bool operator!=(const BaseTime& o) const { return Get() != o.Get(); }
  bool operator<(const BaseTime& o) const { return Get() < o.Get(); }
  bool operator>(const BaseTime& o) const { return Get() > o.Get(); }
  bool operator<=(const BaseTime& o) const { return Get() <= o.Get(); }
  bool operator>=(const BaseTime& o) const { return Get() >= o.Get(); }
  BaseTime operator+(const BaseTime& o) const { return BaseTime(Get() + o.Get()); }
  BaseTime operator-(const BaseTime& o) const { return BaseTime(Get() - o.Get()); }

 private:
  Real m_numerator = 0.0;
  Real m_denominator = 1.0;
};
