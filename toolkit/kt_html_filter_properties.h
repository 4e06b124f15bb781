// SPDX-License-Identifier: MIT
// The filter properties that the HTML parser (for its caller) and each of
// its plugins carry alike: one TKtFilter per piece kind, a TKtTagFilter per
// tag kind, and the TKtTagFilters sets joined for single tag IDs. Every
// change ends in FiltersChanged, where the parser merges all filters anew.
#pragma once

#include "toolkit/kt_html_party_filters.h"

namespace kt {

class TKtHtmlFilterProperties : public TKtTagFiltersOwner {
 public:
  // Leaves the joined sets.
  ~TKtHtmlFilterProperties() override;
  TKtHtmlFilterProperties(const TKtHtmlFilterProperties&) = delete;
  TKtHtmlFilterProperties& operator=(const TKtHtmlFilterProperties&) = delete;

  // REQUIRES: not a tag kind (tags are filtered through TagFilter).
  TKtFilter Filter(TKtHtmlPieceKind kind) const { return party_.Filter(kind); }
  void SetFilter(TKtHtmlPieceKind kind, TKtFilter filter);

  TKtFilter FilterASPs() const { return Filter(TKtHtmlPieceKind::pkASP); }
  TKtFilter FilterCDataSections() const { return Filter(TKtHtmlPieceKind::pkCDataSection); }
  TKtFilter FilterComments() const { return Filter(TKtHtmlPieceKind::pkComment); }
  TKtFilter FilterDTDs() const { return Filter(TKtHtmlPieceKind::pkDTD); }
  TKtFilter FilterExclamationMarkups() const { return Filter(TKtHtmlPieceKind::pkExclamationMarkup); }
  TKtFilter FilterHtmlPIs() const { return Filter(TKtHtmlPieceKind::pkHtmlPI); }
  TKtFilter FilterPHPs() const { return Filter(TKtHtmlPieceKind::pkPHP); }
  TKtFilter FilterScripts() const { return Filter(TKtHtmlPieceKind::pkScript); }
  TKtFilter FilterStyles() const { return Filter(TKtHtmlPieceKind::pkStyle); }
  TKtFilter FilterText() const { return Filter(TKtHtmlPieceKind::pkText); }
  TKtFilter FilterTitles() const { return Filter(TKtHtmlPieceKind::pkTitle); }
  TKtFilter FilterXmlPIs() const { return Filter(TKtHtmlPieceKind::pkXmlPI); }
  void SetFilterASPs(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkASP, f); }
  void SetFilterCDataSections(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkCDataSection, f); }
  void SetFilterComments(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkComment, f); }
  void SetFilterDTDs(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkDTD, f); }
  void SetFilterExclamationMarkups(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkExclamationMarkup, f); }
  void SetFilterHtmlPIs(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkHtmlPI, f); }
  void SetFilterPHPs(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkPHP, f); }
  void SetFilterScripts(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkScript, f); }
  void SetFilterStyles(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkStyle, f); }
  void SetFilterText(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkText, f); }
  void SetFilterTitles(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkTitle, f); }
  void SetFilterXmlPIs(TKtFilter f) { SetFilter(TKtHtmlPieceKind::pkXmlPI, f); }

  // Start and end filters of the tag kinds; assigning copies both values.
  TKtTagFilter& FilterCustomTags() { return party_.TagFilter(TKtHtmlPieceKind::pkCustomTag); }
  TKtTagFilter& FilterHtmlTags() { return party_.TagFilter(TKtHtmlPieceKind::pkHtmlTag); }
  TKtTagFilter& FilterSsiTags() { return party_.TagFilter(TKtHtmlPieceKind::pkSsiTag); }
  void SetFilterCustomTags(const TKtTagFilter& f) { FilterCustomTags().Assign(f); }
  void SetFilterHtmlTags(const TKtTagFilter& f) { FilterHtmlTags().Assign(f); }
  void SetFilterSsiTags(const TKtTagFilter& f) { FilterSsiTags().Assign(f); }

  // The per-tag-ID sets in use (not owned; null when none). A set must
  // outlive its users or be destroyed first, which makes them drop it.
  TKtTagFilters* CustomTagFilters() const { return party_.TagFilters(TKtHtmlPieceKind::pkCustomTag); }
  TKtTagFilters* HtmlTagFilters() const { return party_.TagFilters(TKtHtmlPieceKind::pkHtmlTag); }
  TKtTagFilters* SsiTagFilters() const { return party_.TagFilters(TKtHtmlPieceKind::pkSsiTag); }
  void SetCustomTagFilters(TKtTagFilters* filters) { JoinTagFilters(TKtHtmlPieceKind::pkCustomTag, filters); }
  void SetHtmlTagFilters(TKtTagFilters* filters) { JoinTagFilters(TKtHtmlPieceKind::pkHtmlTag, filters); }
  void SetSsiTagFilters(TKtTagFilters* filters) { JoinTagFilters(TKtHtmlPieceKind::pkSsiTag, filters); }

  // TKtTagFiltersOwner.
  void TagFiltersDestroyed(TKtTagFilters& filters) override;
  void TagFilterChanged(TKtTagFilters& filters, uint32_t tagID) override { FiltersChanged(); }

  const TKtHtmlPartyFilters& Party() const { return party_; }

 protected:
  TKtHtmlFilterProperties();
  // Called after every change of a filter or a joined set.
  virtual void FiltersChanged() = 0;
  TKtHtmlPartyFilters party_;

 private:
  void JoinTagFilters(TKtHtmlPieceKind kind, TKtTagFilters* filters);
};

}  // namespace kt
