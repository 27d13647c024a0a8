#include "app/wx_style.h"

#include <wx/cursor.h>
#include <wx/dcmemory.h>
#include <wx/tooltip.h>

namespace mailfold::app {

wxFont Tahoma(double points, bool bold) {
  wxFontInfo info(points);
  info.FaceName("Tahoma");
  if (bold) info.Bold();
  return wxFont(info);
}

wxFont Verdana(double points) { return wxFont(wxFontInfo(points).FaceName("Verdana")); }

wxSize TextSize(const wxString& text, const wxFont& font) {
  // Measured here rather than asked of the label: some toolkits apply a new font to a label only
  // when it is next drawn, and report the old size until then.
  wxBitmap canvas(1, 1);
  wxMemoryDC dc(canvas);
  dc.SetFont(font);
  const wxSize extent = dc.GetMultiLineTextExtent(text);
  return {extent.x + 2, extent.y + 2};
}

wxPanel* Band(wxWindow* parent, const wxColour& colour, int x, int y, int width, int height) {
  auto* band = new wxPanel(parent, wxID_ANY, wxPoint(x, y), wxSize(width, height), wxBORDER_NONE);
  band->SetBackgroundColour(colour);
  return band;
}

wxStaticText* Label(wxWindow* parent, const std::string& name, const std::string& text, int x, int y,
                    const wxFont& font, const wxColour& foreground, int wrapWidth) {
  auto* label = new wxStaticText(parent, wxID_ANY, ToWx(text), wxPoint(x, y), wxDefaultSize, 0, ToWx(name));
  label->SetFont(font);
  if (foreground.IsOk()) label->SetForegroundColour(foreground);
  if (wrapWidth > 0) label->Wrap(wrapWidth);
  label->SetSize(TextSize(label->GetLabel(), font));
  return label;
}

wxGenericStaticText* HelpLink(wxWindow* parent, const std::string& name, int x, int y,
                              std::function<void()> onClick) {
  auto* link = new wxGenericStaticText(parent, wxID_ANY, kHelpLinkText, wxPoint(x, y), wxDefaultSize, 0, ToWx(name));
  link->SetFont(Tahoma(8.25));
  link->SetForegroundColour(kLinkBlue);
  // On a coloured band the link takes the band's colour; elsewhere it keeps the theme's.
  if (parent->UseBgCol()) link->SetBackgroundColour(parent->GetBackgroundColour());
  link->SetSize(TextSize(link->GetLabel(), link->GetFont()));
  link->SetCursor(wxCursor(wxCURSOR_HAND));
  link->SetToolTip(kHelpLinkTip);
  link->Bind(wxEVT_LEFT_UP, [onClick = std::move(onClick)](wxMouseEvent& event) {
    event.Skip();
    onClick();
  });
  return link;
}

wxString ToWx(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }

std::string FromWx(const wxString& text) {
  const wxScopedCharBuffer utf8 = text.utf8_str();
  return std::string(utf8.data(), utf8.length());
}

}  // namespace mailfold::app
