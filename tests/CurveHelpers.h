// Small builders of segment tables shared by the core tests.
#pragma once

#include <initializer_list>
#include <utility>

#include "document/SegmentTable.h"

namespace ondrevo::test {

// A curve through (time, value) points, without superpositions.
inline SegmentTable CurveThrough(std::initializer_list<std::pair<double, double>> points) {
  SegmentTable t;
  int i = 0;
  for (auto [time, value] : points) {
    t[i].Time = time;
    t[i].Value = value;
    ++i;
  }
  t.SetLastPointIndex(i - 1);
  return t;
}

}  // namespace ondrevo::test
