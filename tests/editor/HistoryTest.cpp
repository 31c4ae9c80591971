// Undo and redo: the rings, the modified count, the enable rules, whole curves of any length,
// and a plain model of the two rings driven by random edits.
#include <gtest/gtest.h>

#include <random>

#include "editor/core/History.h"

using namespace ondrevo;

namespace {

// A curve of `points` points (N = points - 1); N = 0 for fewer than two.
SegmentTable Curve(std::int32_t points, double valueBase = 1.0) {
  SegmentTable t;
  for (std::int32_t i = 0; i < points; ++i) {
    t[i].Time = i * 0.5;
    t[i].Value = valueBase + i % 7;
  }
  t.SetLastPointIndex(points > 1 ? points - 1 : 0);
  return t;
}

// Rows 0..N of both tables, as the history compares them; N = 0 counts as empty.
bool SameDocument(const SegmentTable& a, const SegmentTable& b) {
  const std::int32_t na = a.LastPointIndex() < 1 ? 0 : a.LastPointIndex();
  const std::int32_t nb = b.LastPointIndex() < 1 ? 0 : b.LastPointIndex();
  if (na != nb) return false;
  for (std::int32_t i = 0; na > 0 && i <= na; ++i)
    if (!SameRowData(a[i], b[i])) return false;
  return true;
}

}  // namespace

TEST(History, DrawThenUndoEmptiesTheCurveAndRedoBringsItBack) {
  Document doc;
  TEditHistory h;
  h.ClearHistory(doc);
  EXPECT_FALSE(h.CanUndo());
  EXPECT_FALSE(h.CanRedo());
  EXPECT_FALSE(h.IsModified());

  doc.Working = Curve(2);
  EXPECT_TRUE(h.RecordStep(doc));
  EXPECT_TRUE(SameDocument(doc.Voltage, Curve(2)));  // working copied into the active table
  EXPECT_TRUE(h.CanUndo());
  EXPECT_TRUE(h.IsModified());

  ASSERT_TRUE(h.Undo(doc));
  EXPECT_EQ(doc.Voltage.LastPointIndex(), 0);
  EXPECT_EQ(doc.Working.LastPointIndex(), 0);
  EXPECT_FALSE(h.CanUndo());
  EXPECT_TRUE(h.CanRedo());
  EXPECT_FALSE(h.IsModified());
  EXPECT_FALSE(h.Undo(doc));  // disabled: nothing happens

  ASSERT_TRUE(h.Redo(doc));
  EXPECT_TRUE(SameDocument(doc.Voltage, Curve(2)));
  EXPECT_TRUE(SameDocument(doc.Working, Curve(2)));
  EXPECT_TRUE(h.CanUndo());
  EXPECT_FALSE(h.CanRedo());
  EXPECT_TRUE(h.IsModified());
}

TEST(History, OnlyRealChangesRecord) {
  Document doc;
  TEditHistory h;
  doc.Working = Curve(5);
  h.RecordStep(doc);
  const int pos = h.UndoPosition();

  // Unchanged cell, and a change of the preview slot alone: nothing recorded.
  EXPECT_FALSE(h.RecordStep(doc));
  doc.Working[2].PreviewSlot = 7;
  EXPECT_FALSE(h.RecordStep(doc));
  EXPECT_TRUE(h.Current().Voltage.Matches(doc.Voltage));
  EXPECT_TRUE(h.Current().Current.Matches(doc.Current));
  // Rows above N do not count either.
  doc.Working[9].Value = 99;
  EXPECT_FALSE(h.RecordStep(doc));
  EXPECT_EQ(h.UndoPosition(), pos);
  EXPECT_EQ(h.NetChanges(), 1);

  // Each compared field is a change: the second superposition's phase, the current curve.
  doc.Working[1].Sup2.Phase = 90;
  EXPECT_FALSE(h.Current().Voltage.Matches(doc.Working));
  EXPECT_TRUE(h.RecordStep(doc));
  doc.Current = Curve(3);
  EXPECT_TRUE(h.RecordStep(doc));
  EXPECT_EQ(h.NetChanges(), 3);

  // Spin arrows: ten changes while suppressed record nothing; leaving the field records one.
  h.SetSuppressRecording(true);
  for (int i = 0; i < 10; ++i) {
    doc.Working[3].Value += 0.1;
    EXPECT_FALSE(h.RecordStep(doc));
  }
  h.SetSuppressRecording(false);
  EXPECT_TRUE(h.RecordStep(doc));
  EXPECT_EQ(h.NetChanges(), 4);
}

TEST(History, OnePointCurveCountsAsEmpty) {
  Document doc;
  TEditHistory h;
  h.ClearHistory(doc);
  doc.Working = Curve(1);  // a lone first point is not a curve worth a state
  EXPECT_FALSE(h.RecordStep(doc));

  doc.Working = Curve(3);
  h.RecordStep(doc);
  doc.Working.SetLastPointIndex(0);  // back to the first point alone
  EXPECT_TRUE(h.RecordStep(doc));
  EXPECT_FALSE(h.Current().NonEmpty());
  // The shown state is empty, so Undo is still offered (the step itself emptied the curve)...
  EXPECT_TRUE(h.CanUndo());
  ASSERT_TRUE(h.Undo(doc));
  EXPECT_TRUE(SameDocument(doc.Voltage, Curve(3)));
  // ... and Redo restores the one-point state as an empty curve.
  ASSERT_TRUE(h.Redo(doc));
  EXPECT_EQ(doc.Voltage.LastPointIndex(), 0);
}

TEST(History, EmptyingACurveRecordsAndUndoBringsItBack) {
  Document doc;
  TEditHistory h;
  doc.Working = Curve(4);
  h.RecordStep(doc);
  doc.Working.SetLastPointIndex(0);
  EXPECT_TRUE(h.RecordStep(doc));
  ASSERT_TRUE(h.Undo(doc));
  EXPECT_TRUE(SameDocument(doc.Voltage, Curve(4)));
}

TEST(History, ClearHistoryKeepsTheShownDocumentAsTheFirstState) {
  Document doc;
  doc.Voltage = doc.Working = Curve(6);
  doc.Current = Curve(3, 0.5);
  TEditHistory h;
  h.ClearHistory(doc);
  EXPECT_FALSE(h.IsModified());
  // Leaving a cell unchanged right after loading is not a change.
  EXPECT_FALSE(h.RecordStep(doc));
  EXPECT_FALSE(h.IsModified());

  doc.Working[2].Value = 42;
  ASSERT_TRUE(h.RecordStep(doc));
  ASSERT_TRUE(h.Undo(doc));
  // Back to the loaded document, not to an empty one, and no further.
  EXPECT_TRUE(SameDocument(doc.Voltage, Curve(6)));
  EXPECT_TRUE(SameDocument(doc.Current, Curve(3, 0.5)));
  EXPECT_FALSE(h.CanUndo());
  EXPECT_FALSE(h.IsModified());

  // Save: history cleared, not modified, nothing to undo or redo.
  h.ClearHistory(doc);
  EXPECT_FALSE(h.CanUndo());
  EXPECT_FALSE(h.CanRedo());
  EXPECT_FALSE(h.IsModified());
}

TEST(History, ManyChangesStayModifiedAndUndoReaches255Steps) {
  Document doc;
  TEditHistory h;
  h.ClearHistory(doc);
  doc.Working = Curve(3);
  for (int i = 0; i < 300; ++i) {
    doc.Working[1].Value = i + 100;
    ASSERT_TRUE(h.RecordStep(doc));
  }
  EXPECT_EQ(h.NetChanges(), 300);
  EXPECT_TRUE(h.IsModified());
  int undone = 0;
  while (h.CanUndo()) {
    ASSERT_TRUE(h.Undo(doc));
    ++undone;
    EXPECT_EQ(doc.Voltage[1].Value, 299 - undone + 100);
  }
  EXPECT_EQ(undone, TEditHistory::kReach);
  EXPECT_TRUE(h.IsModified());  // 45 changes are still not undone
  int redone = 0;
  while (h.CanRedo()) {
    ASSERT_TRUE(h.Redo(doc));
    ++redone;
  }
  EXPECT_EQ(redone, TEditHistory::kReach);
  EXPECT_EQ(doc.Voltage[1].Value, 399);
}

TEST(History, RedoReachesAtMost255Steps) {
  Document doc;
  TEditHistory h;
  doc.Working = Curve(3);
  h.RecordStep(doc);
  // Each round leaves one more state on the redo ring: after 300 it has wrapped.
  for (int i = 0; i < 300; ++i) {
    doc.Working[2].Value = 1000 + i;
    h.RecordStep(doc);
    h.Undo(doc);
  }
  int redone = 0;
  while (h.CanRedo() && redone < 1000) {
    h.Redo(doc);
    ++redone;
  }
  EXPECT_EQ(redone, TEditHistory::kReach);
  EXPECT_EQ(doc.Voltage[2].Value, 1000 + 300 - TEditHistory::kReach);
}

TEST(History, AChangeAfterUndoKeepsRedoAvailable) {
  Document doc;
  TEditHistory h;
  doc.Working = Curve(3);
  h.RecordStep(doc);  // A
  doc.Working[1].Value = 10;
  h.RecordStep(doc);  // B
  h.Undo(doc);        // shows A, B on the redo ring
  doc.Working[2].Value = 20;
  h.RecordStep(doc);  // C
  EXPECT_TRUE(h.CanRedo());
  h.Redo(doc);  // B again, on top of C
  EXPECT_EQ(doc.Voltage[1].Value, 10);
  EXPECT_EQ(doc.Voltage[2].Value, Curve(3)[2].Value);
  h.Undo(doc);  // C is one step below
  EXPECT_EQ(doc.Voltage[2].Value, 20);
  EXPECT_EQ(h.NetChanges(), 2);
}

TEST(History, UndoRestoresALongCurveCompletely) {
  Document doc;
  TEditHistory h;
  h.ClearHistory(doc);
  SegmentTable trace = Curve(2001);
  trace[1000].Sup1.Kind = SuperpositionKind::Square;
  trace[1000].Sup1.DutyCycle = 30;
  doc.Working = trace;
  h.RecordStep(doc);
  doc.Working.SetLastPointIndex(3);  // a later edit drops most points
  h.RecordStep(doc);
  ASSERT_TRUE(h.Undo(doc));
  EXPECT_EQ(doc.Voltage.LastPointIndex(), 2000);
  EXPECT_TRUE(SameDocument(doc.Voltage, trace));
  EXPECT_TRUE(SameDocument(doc.Working, trace));
}

TEST(History, StatesShareUnchangedRows) {
  Document doc;
  TEditHistory h;
  doc.Working = Curve(20000);
  h.ClearHistory(doc);
  const std::size_t base = h.SharedRowBytes();
  for (int i = 0; i < 255; ++i) {
    doc.Working[(i * 7919) % 20000].Value = -i;
    ASSERT_TRUE(h.RecordStep(doc));
  }
  // An insertion in the middle shifts the rows after it; they are still shared.
  const SegmentTable before = doc.Working;
  doc.Working[20000] = doc.Working[19999];
  for (std::int32_t k = 19999; k > 10000; --k) doc.Working[k] = doc.Working[k - 1];
  doc.Working[10000].Time = doc.Working[9999].Time;
  doc.Working.SetLastPointIndex(20000);
  ASSERT_TRUE(h.RecordStep(doc));
  // 256 full copies would be 256 times the base; shared, the states cost less than one more.
  EXPECT_LT(h.SharedRowBytes(), 2 * base);
  ASSERT_TRUE(h.Undo(doc));
  EXPECT_TRUE(SameDocument(doc.Voltage, before));
}

// ---- a plain model of the rings ------------------------------------------------------------

namespace {

struct PlainState {
  std::vector<SegmentRow> V, I;  // rows 0..N, empty for an empty curve
  bool NonEmpty() const { return V.size() >= 2 || I.size() >= 2; }
};

std::vector<SegmentRow> Rows(const SegmentTable& t) {
  if (t.LastPointIndex() < 1) return {};
  return {&t[0], &t[0] + t.LastPointIndex() + 1};
}

bool SameRows(const std::vector<SegmentRow>& a, const std::vector<SegmentRow>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameRowData(a[i], b[i])) return false;
  return true;
}

// Full copies in two fixed rings of 256, positions modulo 256, 255-step reach.
struct PlainHistory {
  PlainState undo[256], redo[256];
  int up = 0, rp = 0, undoDepth = 0, redoDepth = 0, net = 0;
  bool canUndo = false, canRedo = false;

  void Record(const SegmentTable& v, const SegmentTable& i) {
    PlainState s{Rows(v), Rows(i)};
    if (SameRows(s.V, undo[up].V) && SameRows(s.I, undo[up].I)) return;
    up = (up + 1) % 256;
    undo[up] = s;
    ++net;
    undoDepth = std::min(undoDepth + 1, 255);
    canUndo = true;
  }
  const PlainState* Undo() {
    if (!canUndo) return nullptr;
    rp = (rp + 1) % 256;
    redo[rp] = undo[up];
    redoDepth = std::min(redoDepth + 1, 255);
    up = (up + 255) % 256;
    --undoDepth;
    --net;
    canRedo = true;
    canUndo = undoDepth > 0 && undo[up].NonEmpty();
    return &undo[up];
  }
  const PlainState* Redo() {
    if (!canRedo) return nullptr;
    up = (up + 1) % 256;
    undo[up] = redo[rp];
    undoDepth = std::min(undoDepth + 1, 255);
    ++net;
    canUndo = true;
    rp = (rp + 255) % 256;
    --redoDepth;
    canRedo = redoDepth > 0 && redo[rp].NonEmpty();
    return &undo[up];
  }
};

void Apply(const PlainState& s, SegmentTable& v, SegmentTable& i) {
  auto put = [](const std::vector<SegmentRow>& rows, SegmentTable& t) {
    for (std::size_t k = 0; k < rows.size(); ++k) t[static_cast<std::int32_t>(k)] = rows[k];
    t.SetLastPointIndex(rows.empty() ? 0 : static_cast<std::int32_t>(rows.size()) - 1);
  };
  put(s.V, v);
  put(s.I, i);
}

}  // namespace

TEST(History, AgreesWithAPlainModelOfTheRings) {
  std::mt19937 rng(20261209);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Document doc;         // edited through the core
  SegmentTable mv, mi;  // edited through the model
  TEditHistory h;
  PlainHistory model;
  h.ClearHistory(doc);

  for (int step = 0; step < 2000; ++step) {
    const int what = pick(10);
    if (what < 6) {
      // An edit of the same kind on both sides: a cell, a new point, a cut, or nothing.
      const int curve = pick(2);
      SegmentTable& ct = curve == 0 ? doc.Voltage : doc.Current;
      SegmentTable& mt = curve == 0 ? mv : mi;
      const std::int32_t n = ct.LastPointIndex();
      switch (pick(5)) {
        case 0: {  // append
          const std::int32_t k = n < 1 ? 1 : n + 1;
          if (n < 1) ct[0] = mt[0] = SegmentRow{};
          SegmentRow r;
          r.Time = ct[k - 1].Time + 1 + pick(3);
          r.Value = pick(5);
          ct[k] = mt[k] = r;
          ct.SetLastPointIndex(k);
          mt.SetLastPointIndex(k);
          break;
        }
        case 1:  // a cell, sometimes to the value it has
          if (n >= 1) {
            const int row = pick(n + 1);
            ct[row].Value = mt[row].Value = pick(3);
            if (pick(4) == 0) ct[row].Sup1.Kind = mt[row].Sup1.Kind = SuperpositionKind::Sine;
          }
          break;
        case 2:  // cut the end off
          if (n >= 1) {
            const int keep = pick(n + 1);
            ct.SetLastPointIndex(keep);
            mt.SetLastPointIndex(keep);
          }
          break;
        case 3:  // insert a copy of a row after it, or delete a row: shifted, repeated rows
          if (n >= 1 && n < 40) {
            const int row = pick(n + 1);
            const bool insert = pick(2) == 0;
            for (SegmentTable* x : {&ct, &mt}) {
              if (insert) {
                for (std::int32_t k = n + 1; k > row; --k) (*x)[k] = (*x)[k - 1];
                x->SetLastPointIndex(n + 1);
              } else if (row > 0) {
                for (std::int32_t k = row; k < n; ++k) (*x)[k] = (*x)[k + 1];
                x->SetLastPointIndex(n - 1);
              }
            }
          }
          break;
        default:
          break;
      }
      const bool recorded = h.RecordStep(doc.Voltage, doc.Current);
      const int before = model.net;
      model.Record(mv, mi);
      ASSERT_EQ(recorded, model.net != before) << "step " << step;
    } else if (what < 8) {
      const PlainState* s = model.Undo();
      ASSERT_EQ(h.Undo(doc.Voltage, doc.Current), s != nullptr) << "step " << step;
      if (s) Apply(*s, mv, mi);
    } else {
      const PlainState* s = model.Redo();
      ASSERT_EQ(h.Redo(doc.Voltage, doc.Current), s != nullptr) << "step " << step;
      if (s) Apply(*s, mv, mi);
    }
    ASSERT_TRUE(SameDocument(doc.Voltage, mv)) << "step " << step;
    ASSERT_TRUE(SameDocument(doc.Current, mi)) << "step " << step;
    ASSERT_EQ(h.CanUndo(), model.canUndo) << "step " << step;
    ASSERT_EQ(h.CanRedo(), model.canRedo) << "step " << step;
    ASSERT_EQ(h.NetChanges(), model.net) << "step " << step;
    ASSERT_EQ(h.UndoPosition(), model.up);
    ASSERT_EQ(h.RedoPosition(), model.rp);
  }
}

TEST(History, TheFirstStateSharesTheRowsALoadedCurveIsShownFrom) {
  const SegmentTable loaded = Curve(1000);
  const auto rowsOf = [](const SegmentTable& t) {
    return std::make_shared<const std::vector<SegmentRow>>(&t[0], &t[0] + t.LastPointIndex() + 1);
  };
  const std::shared_ptr<const std::vector<SegmentRow>> shown = rowsOf(loaded);
  const auto blocks = [](const TCurveSnapshot& s) {
    std::vector<const void*> out;
    s.ForEachBlock([&out](const void* b) { out.push_back(b); });
    return out;
  };
  TEditHistory h;
  h.ClearHistory(loaded, Curve(3), shown);
  EXPECT_EQ(blocks(h.Current().Voltage), std::vector<const void*>{shown.get()});
  EXPECT_NE(blocks(h.Current().Current), std::vector<const void*>{shown.get()});
  // An edit and its Undo bring back every bit of the loaded curve.
  SegmentTable edited = loaded, current = Curve(3);
  edited[500].Value = 42;
  ASSERT_TRUE(h.RecordStep(edited, current));
  ASSERT_TRUE(h.Undo(edited, current));
  EXPECT_TRUE(edited.SameCurve(loaded));

  // Rows that differ in a single bit (a zero's sign), or in count, are copied, not shared.
  SegmentTable signedZero = loaded;
  signedZero[0].Value = -0.0;
  h.ClearHistory(signedZero, Curve(3), shown);
  EXPECT_NE(blocks(h.Current().Voltage), std::vector<const void*>{shown.get()});
  SegmentTable shorter = loaded;
  shorter.SetLastPointIndex(998);
  h.ClearHistory(shorter, Curve(3), shown);
  EXPECT_NE(blocks(h.Current().Voltage), std::vector<const void*>{shown.get()});
  SegmentTable restored, other;
  h.RecordStep(loaded, Curve(3));
  h.Undo(restored, other);
  EXPECT_TRUE(restored.SameCurve(shorter));
}
