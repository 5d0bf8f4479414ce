#include "imaging/check/verdict.h"

namespace kestrix {

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Intact: return "intact";
    case Verdict::Damaged: return "damaged";
    case Verdict::Truncated: return "truncated";
    case Verdict::Unknown: return "unknown";
  }
  return "unknown";
}

bool VerdictFromText(const std::string& text, Verdict* verdict) {
  for (Verdict candidate :
       {Verdict::Intact, Verdict::Damaged, Verdict::Truncated, Verdict::Unknown}) {
    if (text == VerdictText(candidate)) {
      *verdict = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace kestrix
