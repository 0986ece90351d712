// Case equivalence of UTF-16 code units as JavaScript regular expressions without the "u" flag
// define it (ECMA-262, Canonicalize): two units match without regard to case when their
// upper-case forms are the same unit, where a unit whose full upper-case mapping is more than one
// unit ("ß" -> "SS") keeps itself, and a non-ASCII unit never maps to ASCII (so "ſ" and the Kelvin
// sign do not match "s" and "k"). PCRE2 folds case by Unicode case-folding sets, which do join
// those, so the translation spells out case-insensitive characters and classes itself with the
// sets made here. Qt's Unicode tables supply the upper-case mappings; this is the one file that
// asks them.
#include <QChar>
#include <QString>
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/com/regexp/regexp_private.h"

namespace win::regexp {
namespace {

struct CaseTables {
  std::array<char16_t, 0x10000> canonical{};
  // (canonical form, unit) for every unit of an equivalence class with more than one member,
  // sorted so that each class is one run.
  std::vector<std::pair<char16_t, char16_t>> classes;
};

char16_t ComputeCanonical(char16_t unit) {
  if (QChar::isSurrogate(unit)) return unit;
  // The simple mapping decides quickly for the many units that have no upper-case form; the full
  // mapping is needed to see the ones that turn into several units.
  if (QChar::toUpper(char32_t{unit}) == unit) return unit;
  const QString upper = QString(QChar(unit)).toUpper();
  if (upper.size() != 1) return unit;
  const char16_t mapped = upper.at(0).unicode();
  if (unit >= 128 && mapped < 128) return unit;
  return mapped;
}

CaseTables BuildTables() {
  CaseTables tables;
  std::vector<std::pair<char16_t, char16_t>> entries;
  for (uint32_t unit = 0; unit < 0x10000; ++unit) {
    const char16_t canonical = ComputeCanonical(static_cast<char16_t>(unit));
    tables.canonical[unit] = canonical;
    if (canonical != unit) entries.emplace_back(canonical, static_cast<char16_t>(unit));
  }
  // A canonical form belongs to its own class only when it is its own canonical form.
  const size_t mappedCount = entries.size();
  for (size_t i = 0; i < mappedCount; ++i) {
    const char16_t target = entries[i].first;
    if (tables.canonical[target] == target) entries.emplace_back(target, target);
  }
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  for (size_t i = 0; i < entries.size();) {
    size_t end = i;
    while (end < entries.size() && entries[end].first == entries[i].first) ++end;
    if (end - i > 1) tables.classes.insert(tables.classes.end(), entries.begin() + i, entries.begin() + end);
    i = end;
  }
  return tables;
}

const CaseTables& Tables() {
  static const CaseTables tables = BuildTables();
  return tables;
}

}  // namespace

char16_t CanonicalCase(char16_t unit) { return Tables().canonical[unit]; }

void CloseUnderCase(UnitSet& set) {
  const auto& classes = Tables().classes;
  // A small set is quicker to close member by member.
  if (set.Count() <= 64) {
    std::vector<char16_t> members;
    set.ForEachRun([&](char16_t first, char16_t last) {
      for (uint32_t unit = first; unit <= last; ++unit) members.push_back(static_cast<char16_t>(unit));
    });
    for (char16_t member : members) {
      for (char16_t variant : CaseVariants(member)) set.Add(variant);
    }
    return;
  }
  // The classes are disjoint, so adding one class's members never changes the test for another.
  for (size_t i = 0; i < classes.size();) {
    size_t end = i;
    bool present = false;
    while (end < classes.size() && classes[end].first == classes[i].first) {
      present = present || set.Contains(classes[end].second);
      ++end;
    }
    if (present) {
      for (size_t k = i; k < end; ++k) set.Add(classes[k].second);
    }
    i = end;
  }
}

std::vector<char16_t> CaseVariants(char16_t unit) {
  const auto& tables = Tables();
  const char16_t canonical = tables.canonical[unit];
  auto it = std::lower_bound(tables.classes.begin(), tables.classes.end(),
                             std::pair<char16_t, char16_t>{canonical, 0});
  std::vector<char16_t> variants;
  for (; it != tables.classes.end() && it->first == canonical; ++it) variants.push_back(it->second);
  // A unit outside every class (including one whose canonical form belongs to another class)
  // matches only itself.
  if (std::find(variants.begin(), variants.end(), unit) == variants.end()) variants.assign(1, unit);
  std::sort(variants.begin(), variants.end());
  return variants;
}

}  // namespace win::regexp
