// Fonts and style sheets.  Every font is bold Roboto made by clean_font; every colour is one of
// a small fixed palette.  The sheets are laid out as the window's designers wrote them, and are
// compared character for character by the tests.
#include "styles.hpp"

#include "module.hpp"
#include "native_function.hpp"

namespace z47 {

namespace style {

const char* const window = R"(
            QWidget {
                background-color: #F4F7FB;
                color: #0F172A;
                font-family: 'Roboto', 'Noto Sans', sans-serif;
                font-weight: 700;
            }
            QFrame#Card {
                background-color: #FFFFFF;
                border: 1.5px solid #CBD5E1;
                border-radius: 12px;
            }
            QFrame#HeaderCard {
                background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #ECFDF5, stop:1 #FFFFFF);
                border: 1.5px solid #86EFAC;
                border-radius: 12px;
            }
            )";

const char* const install_all_button = R"(
            QPushButton {
                background-color: #15803D;
                color: #FFFFFF;
                border: 1.5px solid #166534;
                border-radius: 8px;
                padding: 6px 16px;
                font-weight: 700;
            }
            QPushButton:hover {
                background-color: #166534;
            }
            )";

const char* const header_title = "color: #166534; background: transparent; font-weight: 700;";
const char* const header_subtitle = "color: #15803D; background: transparent; font-weight: 600;";
const char* const scroll_area = "QScrollArea { background: transparent; border: none; }";
const char* const status_line = "color: #475569; font-weight: 700;";
const char* const card_description = "color: #334155; background: transparent; font-weight: 600;";

std::string card_title(const std::string& accent)
{
    return "color: " + accent + "; background: transparent; font-weight: 700;";
}

std::string card_button(const std::string& bg, const std::string& fg, const std::string& border)
{
    return "\n"
           "            QPushButton {\n"
           "                background-color: " + bg + ";\n"
           "                color: " + fg + ";\n"
           "                border: 1.5px solid " + border + ";\n"
           "                border-radius: 8px;\n"
           "                padding: 0 14px;\n"
           "                font-weight: 700;\n"
           "            }\n"
           "            QPushButton:hover {\n"
           "                opacity: 0.92;\n"
           "            }\n"
           "        ";
}

}  // namespace style

py::object make_clean_font()
{
    FunctionSpec spec{.name = "clean_font", .qualname = "clean_font", .params = {"size_pt"},
                      .annotations = {{"size_pt", "int"}, {"return", "QFont"}},
                      .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::object QFont = global("QFont");
        py::object font = QFont("Roboto", call[0], QFont.attr("Bold"));
        font.attr("setBold")(true);
        font.attr("setWeight")(QFont.attr("Bold"));
        font.attr("setStyleStrategy")(QFont.attr("PreferAntialias") | QFont.attr("PreferQuality"));
        return font;
    });
}

py::object make_btn_style()
{
    FunctionSpec spec{.name = "_btn_style", .qualname = "Z47InstallerCenter._btn_style",
                      .params = {"bg", "fg", "border"},
                      .annotations = {{"bg", "str"}, {"fg", "str"}, {"border", "str"}, {"return", "str"}},
                      .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        // Values go in as their text form, unchecked, as the window's callers expect.
        auto text = [&](std::size_t i) { return py::str(call[i]).cast<std::string>(); };
        return py::str(style::card_button(text(0), text(1), text(2)));
    });
}

py::object clean_font(int size_pt) { return global("clean_font")(size_pt); }

}  // namespace z47
