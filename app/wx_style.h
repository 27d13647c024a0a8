// Look shared by the wizard screens: twips to pixels, the fonts and colours of the screens, the
// white header and footer bands, and the blue " [ ? ]" help links.
#pragma once

#include <functional>
#include <string>

#include <wx/colour.h>
#include <wx/font.h>
#include <wx/stattext.h>
#include <wx/generic/stattextg.h>
#include <wx/panel.h>

namespace mailfold::app {

inline constexpr int kTwipsPerPixel = 15;
constexpr int Twips(int twips) { return twips / kTwipsPerPixel; }

inline const wxColour kWhite(255, 255, 255);
inline const wxColour kLightYellow(255, 255, 192);
inline const wxColour kDarkRed(192, 0, 0);
inline const wxColour kTitleGrey(128, 128, 128);
inline const wxColour kLinkBlue(0, 0, 255);
inline const wxColour kTakenUpGreen(0, 128, 0);

inline constexpr const char* kHelpLinkText = " [ ? ]";
inline constexpr const char* kHelpLinkTip = "Click to Know More...";

wxFont Tahoma(double points, bool bold = false);
wxFont Verdana(double points);

// The size `text` takes in `font`, lines included.
wxSize TextSize(const wxString& text, const wxFont& font);

// A panel with the given background, placed at (x, y) with the given size on `parent`.
wxPanel* Band(wxWindow* parent, const wxColour& colour, int x, int y, int width, int height);

// A label with the given font and colour, wrapped at `wrapWidth` when it is positive.
wxStaticText* Label(wxWindow* parent, const std::string& name, const std::string& text, int x, int y,
                           const wxFont& font, const wxColour& foreground = wxNullColour, int wrapWidth = -1);

// A help link, a window of its own so that it receives clicks on every platform: blue " [ ? ]", Tahoma 8.25 pt, hand pointer, tool tip; `onClick` runs on a click.
wxGenericStaticText* HelpLink(wxWindow* parent, const std::string& name, int x, int y,
                              std::function<void()> onClick);

// Converts between the toolkit's strings and our UTF-8 strings.
wxString ToWx(const std::string& text);
std::string FromWx(const wxString& text);

}  // namespace mailfold::app
