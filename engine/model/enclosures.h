// SPDX-License-Identifier: MIT
// The enclosures of an article (created with the article row as parent), or
// any enclosures by id (created on a database, as the enclosure downloads
// do). Rows are TEnclosuresProperty.
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/base_class.h"
#include "engine/model/enclosures_property.h"

namespace tidewell {

class TEnclosures : public TBaseClass {
 public:
  TEnclosures(TParentClass* parent, int32_t articleId);
  TEnclosures(TDbConnWrapper* database, int32_t articleId);

  // The enclosures of the article; an article id below 0 selects every
  // enclosure. extra (a whole clause, such as an ORDER BY) is appended as
  // it is.
  void LoadById(int32_t articleId, const std::string& extra, int32_t skip, int32_t count) override;
  // "Enclosure index out of bounds" outside 0..GetCount()-1.
  virtual TEnclosuresProperty* GetItem(int32_t index) const;
  // The enclosures of the ids (any number); an empty array only clears.
  virtual void LoadByIds(const TDynIntArray& ids, const std::string& order, int32_t skip, int32_t count);
  virtual void LoadByEnclosureId(int32_t enclosureId, const std::string& order, int32_t skip, int32_t count);
  const char* ClassName() const override { return "TEnclosures"; }

 private:
  void RunEnclosureLoad(std::vector<std::string> lines);
};

}  // namespace tidewell
