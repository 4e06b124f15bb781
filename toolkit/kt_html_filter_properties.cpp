// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_filter_properties.h"

namespace kt {
namespace {

constexpr TKtHtmlPieceKind kTagKinds[] = {TKtHtmlPieceKind::pkCustomTag, TKtHtmlPieceKind::pkHtmlTag,
                                          TKtHtmlPieceKind::pkSsiTag};

}  // namespace

TKtHtmlFilterProperties::TKtHtmlFilterProperties() {
  for (TKtHtmlPieceKind kind : kTagKinds) party_.TagFilter(kind).OnChange = [this] { FiltersChanged(); };
}

TKtHtmlFilterProperties::~TKtHtmlFilterProperties() {
  for (TKtHtmlPieceKind kind : kTagKinds) {
    if (TKtTagFilters* set = party_.TagFilters(kind)) set->RemoveOwner(this);
  }
}

void TKtHtmlFilterProperties::SetFilter(TKtHtmlPieceKind kind, TKtFilter filter) {
  if (TKtHtmlPartyFilters::IsTagKind(kind)) return;
  if (party_.SetFilter(kind, filter)) FiltersChanged();
}

void TKtHtmlFilterProperties::JoinTagFilters(TKtHtmlPieceKind kind, TKtTagFilters* filters) {
  TKtTagFilters* old = party_.TagFilters(kind);
  if (old == filters) return;
  if (old) old->RemoveOwner(this);
  party_.SetTagFilters(kind, filters);
  if (filters) filters->AddOwner(this);
  FiltersChanged();
}

void TKtHtmlFilterProperties::TagFiltersDestroyed(TKtTagFilters& filters) {
  for (TKtHtmlPieceKind kind : kTagKinds) {
    if (party_.TagFilters(kind) == &filters) party_.SetTagFilters(kind, nullptr);
  }
  FiltersChanged();
}

}  // namespace kt
