// Fonts and style sheets: the whole look of the window.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace z47 {

namespace py = pybind11;

namespace style {
extern const char* const window;            // on the central widget; cascades to everything
extern const char* const install_all_button;
extern const char* const header_title;      // lbl_main
extern const char* const header_subtitle;   // lbl_sub
extern const char* const scroll_area;
extern const char* const status_line;
extern const char* const card_description;  // d_lbl
std::string card_title(const std::string& accent);  // t_lbl, in the tool's accent colour
std::string card_button(const std::string& bg, const std::string& fg, const std::string& border);
}  // namespace style

// The module-level `clean_font(size_pt)` and the window's static `_btn_style(bg, fg, border)`.
py::object make_clean_font();
py::object make_btn_style();

// Calls the module's current `clean_font`.
py::object clean_font(int size_pt);

}  // namespace z47
