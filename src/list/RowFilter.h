#pragma once
// The filter's test of a row: does the text of some visible column contain the filter text?
// Letters are compared as the sort compares them (only ASCII a-z folded to upper case); every
// other byte, UTF-8 included, must be equal.
#include <array>
#include <string>
#include <string_view>

#include "list/Columns.h"
#include "list/TMyRec.h"

class RowFilter {
public:
    // An empty text matches every row.
    explicit RowFilter(std::string_view text = {});

    bool empty() const { return m_folded.empty(); }
    // The text as given.
    const std::string& text() const { return m_text; }
    // True when every row this filter matches is matched by `wider` too (its folded text is
    // a part of this one's): a filter typed further needs to test only the rows shown now.
    bool narrows(const RowFilter& wider) const;

    bool matchesText(std::string_view cell) const;
    // `visible[c]` says whether column c is shown; only shown columns' texts (VTSGetText)
    // count.
    bool matches(const TMyRec& row, const std::array<bool, AllColumnCount>& visible) const;

private:
    std::string m_text;
    std::string m_folded;
};
