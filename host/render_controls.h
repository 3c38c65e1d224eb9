#ifndef RENDER_CONTROLS_H
#define RENDER_CONTROLS_H

// The renderer's view of a plug-in's control records: names, values typed
// on the command line, and the listing of every control.

#include <cstdio>
#include <string>
#include <vector>

#include "standin_host.h"

// A control's name: its title up to the colon without trailing blanks
// ("Viscosity: %.3f" is "Viscosity"); a list's is its first item's text
// before the colon ("Buoyancy Mode: None  " is "Buoyancy Mode"), none when
// its items have no colon; a string's is its text.
std::string control_name(const StandinControlEntry& control);

// The value control NAME names (with `button`, the push control): a
// number, or a name compared without case and trailing blanks. False with a
// one-line reason for no control, a name several controls share, and a
// control of the other sort.
bool find_control(const std::vector<StandinControlEntry>& controls, const std::string& name,
                  StandinControlEntry& found, std::string& error, bool button = false);

// The record value TEXT gives the control: a finite number for floats and
// integers (whole for integers), brought into the range with a warning
// when it lies outside ("value 1e40 of control 7 (Viscosity) is out of its
// range 1e-05 .. 1: clamped to 1", else empty); an item name (case and
// trailing blanks ignored) for a list (its 0-based index), "on" or "off"
// for a checkbox. False with a one-line reason.
bool parse_control_value(const StandinControlEntry& control, const std::string& text,
                         double& value, std::string& error, std::string& warning);

// Writes a value parse_control_value accepted into the record.
void set_control_value(const StandinControlEntry& control, double value);

// The callback the control's record names, or null.
SparkCallback control_callback(const StandinControlEntry& control);

// One line per control: number, kind, name, value, range or items.
void list_controls(const std::vector<StandinControlEntry>& controls, FILE* out);

// The panel as the artist sees it, page by page: each control's title
// filled with its value (a list its chosen item, a checkbox ticked [x] or
// not [ ]), the hidden ones marked.
void print_panel(const std::vector<StandinControlEntry>& controls, FILE* out);

#endif
