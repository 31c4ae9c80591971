#include "document/DocumentIO.h"

#include <expat.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "document/AtomicFile.h"
#include "document/Numbers.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

std::string Describe(const std::string& file, const std::string& detail, long line, long column) {
  if (file.empty()) return detail;
  std::string out = file;
  if (line > 0) out += ":" + std::to_string(line) + ":" + std::to_string(column);
  return out + ": " + detail;
}

// ---- writing ----------------------------------------------------------------------------------

// A number whose text would not read back (rounded beyond the largest double) is never
// written: the file could not be opened again.
std::string Checked(std::string text) {
  double back = 0;
  if (!TryParseNumber(text, back))
    throw EDocumentError({}, _("The number cannot be stored in a document:") + (" " + text));
  return text;
}

std::string Fixed(double value, int precision, int digits) {
  return Checked(FormatFixed(value, precision, digits));
}

std::string Duration(double d, bool voltage) {
  return Checked(voltage ? FormatFixed(d, 14, 8) : FormatGeneral(d));
}

std::string Level(double v, bool voltage) {
  return Checked(voltage ? FormatFixed(v, 10, 4) : FormatGeneral(v));
}

void WriteSuperposition(std::string& out, const SuperpositionSpec& sup) {
  const std::string name = SuperpositionElementName(sup.Kind);
  out += "<" + name + ">\r\n";
  out += "<amplitude start=\"" + Fixed(sup.AmpStart, 10, 4) + "\" end=\"" +
         Fixed(sup.AmpEnd, 10, 4) + "\"/>\r\n";
  out += "<frequency start=\"" + Fixed(sup.FreqStart, 12, 4) + "\" end=\"" +
         Fixed(sup.FreqEnd, 12, 4) + "\"/>\r\n";
  out += "<phase value=\"" + Fixed(sup.Phase, 10, 4) + "\"/>\r\n";
  if (sup.Kind == SuperpositionKind::Square)
    out += "<dutycycle value=\"" + Fixed(sup.DutyCycle / 100.0, 10, 4) + "\"/>\r\n";
  out += "</" + name + ">\r\n";
}

void WriteWaveform(std::string& out, const SegmentTable& table, bool voltage) {
  const std::int32_t n = table.LastPointIndex();
  if (n <= 0) return;
  out += voltage ? "<waveform name=\"\" type=\"voltage\">\r\n"
                 : "<waveform name=\"\" type=\"current\">\r\n";
  double readTime = 0.0;  // the time the reader will add up from the written durations
  for (std::int32_t i = 0; i < n; ++i) {
    const SegmentRow& row = table[i];
    const double d = table[i + 1].Time - row.Time;
    const double s = row.Value, e = table[i + 1].Value;
    if (!(d >= 0)) throw EDocumentError({}, _("The curve's time goes backwards."));
    const std::string duration = Duration(d, voltage);
    readTime += ParseNumber(duration);
    if (!std::isfinite(readTime))
      throw EDocumentError({}, _("The curve is too long: its time exceeds the range of numbers."));
    out += "<segment duration=\"" + duration + "\" start=\"" + Level(s, voltage) + "\" end=\"" +
           Level(e, voltage) + "\"";
    // The second superposition only counts while there is a first one.
    if (row.Sup1.Kind == SuperpositionKind::None) {
      out += "/>\r\n";
      continue;
    }
    out += ">\r\n";
    WriteSuperposition(out, row.Sup1);
    if (row.Sup2.Kind != SuperpositionKind::None) WriteSuperposition(out, row.Sup2);
    out += "</segment>\r\n";
  }
  out += "</waveform>\r\n";
}

// ---- reading ----------------------------------------------------------------------------------

constexpr int kMaxDepth = 64;

struct Reader {
  XML_Parser parser = nullptr;
  SegmentTable* voltage = nullptr;
  SegmentTable* current = nullptr;
  SegmentTable* target = nullptr;
  double runningTime = 0.0;
  bool second = false;
  int depth = 0;
  bool sawRoot = false, sawList = false;
  // Per curve, the time the reader of a written copy will add up from the rounded durations:
  // a document is accepted only if it can be written and read again.
  double writtenTime[2] = {0.0, 0.0};
  // First failure found inside a handler; parsing is stopped when it is set.
  std::string error;
  long errorLine = 0, errorColumn = 0;

  void Stop(const std::string& message) {
    if (!error.empty()) return;
    error = message;
    errorLine = static_cast<long>(XML_GetCurrentLineNumber(parser));
    errorColumn = static_cast<long>(XML_GetCurrentColumnNumber(parser)) + 1;
    XML_StopParser(parser, XML_FALSE);
  }

  static const char* Attr(const XML_Char** attrs, const char* name) {
    for (int i = 0; attrs[i]; i += 2)
      if (std::strcmp(attrs[i], name) == 0) return attrs[i + 1];
    return "";  // a missing attribute counts as empty text
  }

  // The superposition the parameter elements address, or null before the first segment.
  SuperpositionSpec* CurrentSuperposition() {
    std::int32_t n = target->LastPointIndex();
    if (n <= 0) return nullptr;
    SegmentRow& row = (*target)[n - 1];
    return second ? &row.Sup2 : &row.Sup1;
  }

  static std::int32_t RoundedInt(double value, const char* text) {
    double r = RoundHalfEven(value);
    if (!(r >= std::numeric_limits<std::int32_t>::min() &&
          r <= std::numeric_limits<std::int32_t>::max()))
      throw EConversionError(text);
    return static_cast<std::int32_t>(r);
  }

  // A number of the table: it must also survive being written and read again.
  static double Stored(const char* text) {
    const double value = ParseNumber(text);
    if (!IsStorableNumber(value))
      throw std::runtime_error(_("The number cannot be stored in a document:") +
                               (" " + std::string(text)));
    return value;
  }

  static double Frequency(const char* text) {
    const double value = Stored(text);
    if (!FrequencyWithinLimit(value))
      throw std::runtime_error(FrequencyLimitText() + (" " + std::string(text)));
    return value;
  }

  void Start(const char* name, const XML_Char** attrs) {
    if (!sawRoot) {
      sawRoot = true;
      if (std::strcmp(name, "ondrevo") != 0) {
        Stop(_("The file is not a waveform document."));
        return;
      }
    }
    if (std::strcmp(name, "waveform_list") == 0) sawList = true;
    if (std::strcmp(name, "waveform") == 0) {
      runningTime = 0.0;
      target = std::strcmp(Attr(attrs, "type"), "voltage") == 0 ? voltage : current;
      return;
    }
    if (!target) target = current;  // elements outside any waveform: as the reader finds them
    if (std::strcmp(name, "segment") == 0) {
      second = false;
      std::int32_t n = target->LastPointIndex();
      if (n + 1 >= SegmentTable::kCapacity) {
        Stop(_("The curve has more points than a curve can hold (60000)."));
        return;
      }
      const double duration = ParseNumber(Attr(attrs, "duration"));
      // Times never decrease: neither a negative duration nor a second waveform of the same
      // curve that would start again before the curve's end.
      if (duration < 0 || (n > 0 && runningTime < (*target)[n].Time)) {
        Stop(_("The curve's time goes backwards."));
        return;
      }
      (*target)[n].Time = runningTime;
      const double end = runningTime + duration;
      const bool voltageCurve = target == voltage;
      double& written = writtenTime[voltageCurve ? 0 : 1];
      double rounded = 0;
      if (std::isfinite(end)) {
        const double d = end - runningTime;  // what the writer will write
        TryParseNumber(voltageCurve ? FormatFixed(d, 14, 8) : FormatGeneral(d), rounded);
      }
      if (!std::isfinite(end) || !std::isfinite(written + rounded)) {
        Stop(_("The curve is too long: its time exceeds the range of numbers."));
        return;
      }
      written += rounded;
      (*target)[n + 1].Time = end;
      runningTime = end;
      (*target)[n].Value = Stored(Attr(attrs, "start"));
      (*target)[n + 1].Value = Stored(Attr(attrs, "end"));
      target->SetLastPointIndex(n + 1);
      return;
    }
    SuperpositionKind kind = SuperpositionKind::None;
    if (std::strcmp(name, "sine") == 0)
      kind = SuperpositionKind::Sine;
    else if (std::strcmp(name, "square") == 0)
      kind = SuperpositionKind::Square;
    else if (std::strcmp(name, "triangle") == 0)
      kind = SuperpositionKind::Triangle;
    else if (std::strcmp(name, "saw") == 0)
      kind = SuperpositionKind::Sawtooth;
    if (kind != SuperpositionKind::None) {
      if (auto* sup = CurrentSuperposition()) sup->Kind = kind;
      return;
    }
    SuperpositionSpec* sup = nullptr;
    if (std::strcmp(name, "amplitude") == 0) {
      if ((sup = CurrentSuperposition())) {
        sup->AmpStart = Stored(Attr(attrs, "start"));
        sup->AmpEnd = Stored(Attr(attrs, "end"));
      }
    } else if (std::strcmp(name, "frequency") == 0) {
      if ((sup = CurrentSuperposition())) {
        sup->FreqStart = Frequency(Attr(attrs, "start"));
        sup->FreqEnd = Frequency(Attr(attrs, "end"));
      }
    } else if (std::strcmp(name, "phase") == 0) {
      if ((sup = CurrentSuperposition())) {
        const char* text = Attr(attrs, "value");
        sup->Phase = RoundedInt(ParseNumber(text), text);
      }
    } else if (std::strcmp(name, "dutycycle") == 0) {
      if ((sup = CurrentSuperposition())) {
        const char* text = Attr(attrs, "value");
        sup->DutyCycle = RoundedInt(ParseNumber(text) * 100.0, text);
      }
    }
  }

  void End(const char* name) {
    // An empty-element tag (<sine/>) reports its end with no bytes of its own: it is not an
    // end tag and does not switch to the second superposition.
    if (XML_GetCurrentByteCount(parser) == 0) return;
    if (std::strcmp(name, "sine") == 0 || std::strcmp(name, "square") == 0 ||
        std::strcmp(name, "triangle") == 0 || std::strcmp(name, "saw") == 0)
      second = true;
  }
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto* r = static_cast<Reader*>(data);
  if (!r->error.empty()) return;
  if (++r->depth > kMaxDepth) {
    r->Stop(_("The elements are nested too deeply."));
    return;
  }
  try {
    r->Start(name, attrs);
  } catch (const std::exception& e) {
    r->Stop(e.what());
  }
}

void XMLCALL OnEnd(void* data, const XML_Char* name) {
  auto* r = static_cast<Reader*>(data);
  if (!r->error.empty()) return;
  --r->depth;
  r->End(name);
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  static_cast<Reader*>(data)->Stop(_("Document type declarations are not allowed."));
}

void XMLCALL OnEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                      const XML_Char*, const XML_Char*, const XML_Char*) {
  static_cast<Reader*>(data)->Stop(_("Entity declarations are not allowed."));
}

}  // namespace

EDocumentError::EDocumentError(const std::string& file, const std::string& detail, long line,
                               long column)
    : std::runtime_error(Describe(file, detail, line, column)),
      file_(file),
      detail_(detail),
      line_(line),
      column_(column) {}

bool IsStorableNumber(double value) {
  if (!std::isfinite(value)) return false;
  // Only values next to the largest double can round up beyond it.
  if (std::fabs(value) < 1e307) return true;
  double back = 0;
  return TryParseNumber(FormatFixed(value, 14, 8), back) &&
         TryParseNumber(FormatFixed(value, 12, 4), back) &&
         TryParseNumber(FormatFixed(value, 10, 4), back) &&
         TryParseNumber(FormatGeneral(value), back);
}

std::string FormatDocument(const SegmentTable& voltage, const SegmentTable& current) {
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n";
  out += std::string("<ondrevo version=\"1.0\" xmlns=\"") + kOvxNamespace + "\">\r\n";
  out += "<arbdata>\r\n<waveform_list>\r\n";
  WriteWaveform(out, voltage, true);
  WriteWaveform(out, current, false);
  out += "</waveform_list>\r\n</arbdata>\r\n</ondrevo>\r\n";
  return out;
}

void WriteDocument(const std::string& path, const SegmentTable& voltage,
                   const SegmentTable& current) {
  std::string text;
  try {
    text = FormatDocument(voltage, current);
  } catch (const EDocumentError& e) {
    throw EDocumentError(path, e.Detail());
  }
  try {
    WriteFileAtomically(path, text);
  } catch (const EFileRefused& e) {
    throw EDocumentError(path, e.Reason());
  } catch (const std::system_error& e) {
    throw EDocumentError(path, e.code().message());
  }
}

void ReadDocumentText(std::string_view data, const std::string& sourceName, SegmentTable& voltage,
                      SegmentTable& current) {
  voltage.Reset();
  current.Reset();
  if (data.size() > kMaxDocumentBytes)
    throw EDocumentError(sourceName, _("The file is too large to be a waveform document."));

  Reader r;
  r.voltage = &voltage;
  r.current = &current;
  r.parser = XML_ParserCreate(nullptr);
  if (!r.parser) throw EDocumentError(sourceName, "Out of memory");
  XML_SetUserData(r.parser, &r);
  XML_SetElementHandler(r.parser, OnStart, OnEnd);
  XML_SetStartDoctypeDeclHandler(r.parser, OnDoctype);
  XML_SetEntityDeclHandler(r.parser, OnEntity);

  // Feed in pieces: the size fits in an int per call.
  constexpr std::size_t kChunk = 1 << 20;
  XML_Status status = XML_STATUS_OK;
  std::size_t pos = 0;
  do {
    std::size_t len = std::min(kChunk, data.size() - pos);
    bool last = pos + len == data.size();
    status = XML_Parse(r.parser, data.data() + pos, static_cast<int>(len), last);
    pos += len;
  } while (status == XML_STATUS_OK && pos < data.size());

  if (!r.error.empty()) {
    XML_ParserFree(r.parser);
    throw EDocumentError(sourceName, r.error, r.errorLine, r.errorColumn);
  }
  if (status != XML_STATUS_OK) {
    std::string detail = XML_ErrorString(XML_GetErrorCode(r.parser));
    long line = static_cast<long>(XML_GetCurrentLineNumber(r.parser));
    long column = static_cast<long>(XML_GetCurrentColumnNumber(r.parser)) + 1;
    XML_ParserFree(r.parser);
    throw EDocumentError(sourceName, detail, line, column);
  }
  XML_ParserFree(r.parser);
  // A document the writer wrote always has the list, even with both curves empty.
  if (!r.sawList)
    throw EDocumentError(sourceName,
                         _("The file is not a waveform document: it has no waveform list."));
}

void ReadDocumentFile(const std::string& path, SegmentTable& voltage, SegmentTable& current) {
  voltage.Reset();
  current.Reset();
  std::string data;
  try {
    data = ReadWholeFile(path, kMaxDocumentBytes);
  } catch (const std::system_error& e) {
    throw EDocumentError(path, e.code().message());
  }
  ReadDocumentText(data, path, voltage, current);
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & 0222) == 0) return true;  // no write bit: read-only even for root
  return ::access(path.c_str(), W_OK) != 0;
}

}  // namespace ondrevo
