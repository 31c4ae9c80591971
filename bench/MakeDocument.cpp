// Writes a benchmark document: ondrevo-bench-document KIND HOURS OUT.ovx
// KIND is "sine" (1 kHz sine on the voltage, constant current) or "steps"; with KIND "points"
// the second argument is the number of voltage points instead of hours.
#include <cstdio>
#include <string>

#include "BenchDocuments.h"
#include "document/DocumentIO.h"
#include "document/Numbers.h"

int main(int argc, char** argv) {
  using namespace ondrevo;
  double hours = 0;
  if (argc != 4 || !TryParseNumber(argv[2], hours) || hours <= 0) {
    std::fprintf(stderr, "usage: ondrevo-bench-document sine|steps HOURS|points COUNT OUT.ovx\n");
    return 2;
  }
  const std::string kind = argv[1];
  SegmentTable voltage;
  if (kind == "sine")
    voltage = bench::SineCurve(hours);
  else if (kind == "steps")
    voltage = bench::StepsAndRampsCurve(hours);
  else if (kind == "points" && hours >= 2 && hours <= SegmentTable::kCapacity)
    voltage = bench::ManyPointsCurve(static_cast<int>(hours));
  else {
    std::fprintf(stderr, "unknown kind %s\n", argv[1]);
    return 2;
  }
  try {
    const double length = kind == "points" ? voltage.Length() / 3600 : hours;
    WriteDocument(argv[3], voltage, bench::ConstantCurve(length, 2));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
