#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Errors.h"
#include "support/JSONConfig.h"
#include "support/Json.h"

namespace zor {

// An index outside 0 .. Count - 1.
class EArgumentOutOfRange : public EZorError {
 public:
  explicit EArgumentOutOfRange(const std::string& AMessage) : EZorError(AMessage) {}
};

// The owning, ordered list behind every list of configuration objects (syslog
// receivers, beat receivers, readers). The list owns its items: replacing,
// deleting or clearing frees them, and copying the list copies every item.
//
// TItem needs a default constructor (its defaults), a copy constructor,
// ToJSONObject, FromJSONObject and a class-level AreEqual. Not thread-safe:
// like the configuration that holds it, a list is used by one thread at a
// time, and other threads work on their own copies.
template <class TItem>
class TConfigList {
 public:
  TConfigList() = default;
  TConfigList(const TConfigList& AList) { CopyFrom(AList); }
  TConfigList& operator=(const TConfigList& AList) {
    if (this != &AList) CopyFrom(AList);
    return *this;
  }
  TConfigList(TConfigList&&) noexcept = default;
  TConfigList& operator=(TConfigList&&) noexcept = default;
  ~TConfigList() = default;

  [[nodiscard]] int Count() const { return static_cast<int>(FList.size()); }

  // The item at AIndex, borrowed from the list. EArgumentOutOfRange outside the list.
  [[nodiscard]] TItem& GetListItem(int AIndex) const { return *FList[Checked(AIndex)]; }
  // Replaces (and frees) the item at AIndex.
  void SetListItem(int AIndex, std::unique_ptr<TItem>&& AValue) { FList[Checked(AIndex)] = std::move(AValue); }
  // Appends; the list takes ownership.
  void Add(std::unique_ptr<TItem>&& AValue) { FList.push_back(std::move(AValue)); }
  // Removes and frees the item at AIndex.
  void Delete(int AIndex) { FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(Checked(AIndex))); }
  void Clear() { FList.clear(); }

  // A new array of the items' objects, in list order; the caller owns it.
  [[nodiscard]] std::unique_ptr<TJSONArray> ToJSONArray() const {
    auto array = std::make_unique<TJSONArray>(TJSONValue::array());
    array->get_ref<TJSONValue::array_t&>().reserve(FList.size());
    for (const auto& item : FList) array->push_back(std::move(*item->ToJSONObject()));
    return array;
  }

  // Clears the list, then appends one new item per element, each starting from
  // the item's defaults. AValue must be an array and every element an object;
  // otherwise EConfigError naming the element, and the items read before it
  // stay in the list.
  void FromJSONArray(const TJSONValue& AValue) {
    Clear();
    const auto& array = JSONConfig::RequireArray(AValue);
    for (std::size_t index = 0; index < array.size(); ++index) {
      JSONConfig::ReadAt(std::to_string(index), [&] {
        auto item = std::make_unique<TItem>();
        item->FromJSONObject(JSONConfig::RequireObject(array[index]));
        FList.push_back(std::move(item));
      });
    }
  }

  [[nodiscard]] std::string AsJSONArrayString() const { return Json::Compact(*ToJSONArray()); }
  void SetAsJSONArrayString(std::string_view AText) { FromJSONArray(Json::Parse(AText)); }

  // A new list read from JSON array text; the caller owns it.
  [[nodiscard]] static std::unique_ptr<TConfigList> GetFromJSONArrayString(std::string_view AText) {
    auto list = std::make_unique<TConfigList>();
    list->SetAsJSONArrayString(AText);
    return list;
  }

  // True when both lists have the same count and every item of the first has
  // an equal item (TItem::AreEqual) somewhere in the second; order does not matter.
  [[nodiscard]] static bool AreEqual(const TConfigList& AList1, const TConfigList& AList2) {
    if (AList1.FList.size() != AList2.FList.size()) return false;
    for (std::size_t i = 0; i < AList1.FList.size(); ++i) {
      const auto& item = AList1.FList[i];
      // Lists usually keep their order: try the same position first.
      if (TItem::AreEqual(*item, *AList2.FList[i])) continue;
      bool found = false;
      for (const auto& other : AList2.FList) {
        if (TItem::AreEqual(*item, *other)) {
          found = true;
          break;
        }
      }
      if (!found) return false;
    }
    return true;
  }

  auto begin() const { return FList.begin(); }
  auto end() const { return FList.end(); }

 private:
  void CopyFrom(const TConfigList& AList) {
    std::vector<std::unique_ptr<TItem>> copy;
    copy.reserve(AList.FList.size());
    for (const auto& item : AList.FList) copy.push_back(std::make_unique<TItem>(*item));
    FList = std::move(copy);
  }

  std::size_t Checked(int AIndex) const {
    if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FList.size()) {
      throw EArgumentOutOfRange("List index out of bounds (" + std::to_string(AIndex) + ")");
    }
    return static_cast<std::size_t>(AIndex);
  }

  std::vector<std::unique_ptr<TItem>> FList;
};

}  // namespace zor
