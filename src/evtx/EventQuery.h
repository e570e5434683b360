#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "platform/Errors.h"

namespace zor {

// A query text that is not a valid event query. Offset is the byte position in
// the query text (or in the selector's text for a QueryList) where parsing
// failed.
class EQueryError : public EZorError {
 public:
  EQueryError(const std::string& AMessage, size_t AOffset)
      : EZorError(AMessage + " at offset " + std::to_string(AOffset)), FOffset(AOffset) {}
  size_t Offset() const { return FOffset; }

 private:
  size_t FOffset;
};

namespace query {
struct TExpr;
}

// A compiled Windows event query ("selectionDetail"): either an XPath filter
// of the supported subset (`*`, `Event`, `*[System[EventID=4624]]`, ...) or a
// structured `<QueryList>` with Select and Suppress elements. An empty or blank
// text, and `*`, select every event.
//
// Compile once with Parse, then call Matches per event. A compiled query is
// immutable: Matches may be called from several threads at the same time.
class TEventQuery {
 public:
  using TClock = std::chrono::system_clock;

  // Compiles AText. Throws EQueryError for anything outside the supported
  // subset (descendant axis, unknown functions, arithmetic, bad QueryList, ...).
  [[nodiscard]] static std::unique_ptr<TEventQuery> Parse(std::string_view AText);

  ~TEventQuery();
  TEventQuery(const TEventQuery&) = delete;
  TEventQuery& operator=(const TEventQuery&) = delete;

  // True when the query is empty or `*` in every selector and suppresses
  // nothing: every event of its channels matches, so callers may skip parsing.
  bool SelectsEverything() const { return FSelectsEverything; }

  // The channels named by a QueryList's paths, in order of first appearance
  // (duplicates differing only in letter case removed). Empty for an XPath
  // query or a QueryList without paths: then the channel given to the
  // subscription is read. A `file://` path is given as the plain file path.
  const std::vector<std::string>& Channels() const { return FChannels; }

  // How an event is parsed for Matches: as the event record parser parses
  // it, so an element whose only content is blanks has them as its value.
  static constexpr unsigned int QueryParseOptions = pugi::parse_default | pugi::parse_ws_pcdata_single;

  // True when the event, read from channel AChannel, is selected. AEvent is the
  // rendered event's root element (`Event`), parsed with QueryParseOptions;
  // any RenderingInfo child is not seen. ANow is "now" for timediff().
  [[nodiscard]] bool Matches(const pugi::xml_node& AEvent, std::string_view AChannel,
                             TClock::time_point ANow = TClock::now()) const;

  // The same on rendered event XML; malformed XML matches nothing.
  [[nodiscard]] bool MatchesXml(std::string_view AEventXml, std::string_view AChannel,
                                TClock::time_point ANow = TClock::now()) const;

 private:
  struct TSelector {
    std::string Path;  // empty: any channel
    bool Suppress = false;
    std::unique_ptr<query::TExpr> Filter;  // null: every event
  };
  struct TGroup {
    std::vector<TSelector> Selectors;
  };

  TEventQuery() = default;
  static std::unique_ptr<TEventQuery> ParseQueryList(std::string_view AText);

  std::vector<TGroup> FGroups;
  std::vector<std::string> FChannels;
  bool FSelectsEverything = false;
};

// Compares channel names the way Windows does: without regard to letter case.
[[nodiscard]] bool SameChannelName(std::string_view A, std::string_view B);

// A rendered time ("2024-03-01T10:00:00.1234567Z", any number of fraction
// digits) as FILETIME ticks (100 ns since 1601-01-01 UTC); nothing when the
// text is not such a time or lies before 1601.
[[nodiscard]] std::optional<uint64_t> ParseEventTime(std::string_view AText);

}  // namespace zor
