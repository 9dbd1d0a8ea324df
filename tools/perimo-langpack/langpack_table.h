#pragma once
// The translation table of a language pack: one text per line, fields separated by tabs,
// texts in UTF-8 with \t, \n, \r and \\ escaped.
//
//   language <TAB> 0x0407
//   string   <TAB> 136 <TAB> Wollen Sie wirklich beenden?
//   dialog   <TAB> 102 <TAB> title <TAB> Fernagent
//   dialog   <TAB> 102 <TAB> 110 <TAB> &Starten          (a control by its id)
//   dialog   <TAB> 102 <TAB> #3 <TAB> Verbindungsstatus: (a control without id, by position)
//   menu     <TAB> 147 <TAB> 57664 <TAB> &Info           (a command by its id)
//   menu     <TAB> 147 <TAB> #0 <TAB> Men\u00fc          (a pop-up by position)
//
// Lines that are empty or begin with '#' are comments.
#include <string>
#include <string_view>

#include "formats/pe_resources.h"

namespace perimo::langpack {

// Every text of the set as a table.
std::string FormatTable(const ResourceSet& set);

// Applies a table to base (whose dialogs and menus give the layout): its strings become
// exactly the table's, its dialog and menu texts are replaced where the table names them.
// false with a message naming the line when the table is malformed.
bool ApplyTable(std::string_view table, ResourceSet& base, std::string& error);

}  // namespace perimo::langpack
