// Renders the conversion screen before, during and after a run to PNG files: into the build's
// "screenshots" folder on every run, and into MAILFOLD_SCREENSHOT_DIR when it is set (the
// documentation's pictures are made with MAILFOLD_SCREENSHOT_DIR=docs/screenshots).
//
// The virtual display has no window manager, so the window has no frame of its own; the picture
// gets a plain title bar with the window's caption drawn above the captured client area.
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/utils.h>

#include <cstdlib>
#include <set>

#include "gui_fixture.h"
#include "screen_capture.h"
#include "support/paths.h"

namespace mailfold::test {
namespace {

namespace fs = std::filesystem;

constexpr int kTitleBarHeight = 26;

std::vector<fs::path> ScreenshotDirs() {
  std::vector<fs::path> dirs{binDir().parent_path() / "screenshots"};
  if (const char* extra = std::getenv("MAILFOLD_SCREENSHOT_DIR"); extra && *extra) dirs.emplace_back(extra);
  return dirs;
}

// The client area as the display shows it, under a title bar with the window's caption.
wxImage Capture(wxDialog& window) {
  // GTK paints on its frame clock: give it a few frames to bring the display up to date.
  for (int frame = 0; frame < 20; ++frame) {
    wxTheApp->Yield(true);
    wxMilliSleep(16);
  }
  const wxSize client = window.GetClientSize();
  const wxImage shown = CaptureScreenArea(wxRect(window.ClientToScreen(wxPoint(0, 0)), client));
  if (!shown.IsOk()) return {};
  wxBitmap picture(client.GetWidth(), client.GetHeight() + kTitleBarHeight, 24);
  {
    wxMemoryDC out(picture);
    out.DrawBitmap(wxBitmap(shown), 0, kTitleBarHeight);
    out.SetBrush(wxBrush(wxColour(48, 48, 48)));
    out.SetPen(*wxTRANSPARENT_PEN);
    out.DrawRectangle(0, 0, client.GetWidth(), kTitleBarHeight);
    out.SetTextForeground(*wxWHITE);
    out.SetFont(window.GetFont().Bold());
    const wxString title = window.GetTitle();
    const wxSize extent = out.GetTextExtent(title);
    out.DrawText(title, 10, (kTitleBarHeight - extent.GetHeight()) / 2);
  }
  return picture.ConvertToImage();
}

void Save(const wxImage& image, const std::string& name) {
  for (const auto& dir : ScreenshotDirs()) {
    fs::create_directories(dir);
    EXPECT_TRUE(image.SaveFile((dir / name).string(), wxBITMAP_TYPE_PNG)) << (dir / name);
  }
}

// The picture shows the window and not an empty or black area: the status band is white and the
// rest holds more than a couple of colours.
void ExpectLooksLikeTheScreen(const wxImage& image, const run::FrmMigateAll& frm) {
  ASSERT_TRUE(image.IsOk());
  const wxRect band = frm.lblCount1()->GetParent()->GetRect();
  const int x = band.GetRight() - 6, y = band.GetTop() + band.GetHeight() / 2 + kTitleBarHeight;
  EXPECT_EQ(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)), *wxWHITE);
  std::set<unsigned long> colours;
  for (int py = kTitleBarHeight; py < image.GetHeight(); py += 3)
    for (int px = 0; px < image.GetWidth(); px += 3)
      colours.insert(wxColour(image.GetRed(px, py), image.GetGreen(px, py), image.GetBlue(px, py)).GetRGB());
  EXPECT_GT(colours.size(), 8u);
}

TEST_F(GuiTest, ScreenshotsBeforeDuringAndAfterARun) {
  wxImage::AddHandler(new wxPNGHandler);
  MakeRows({1, 3, 4}, 8);
  wxImage before, during, after;
  At("/f3/m5.eml", [&] { during = Capture(*frm); });
  RunModal([&] { after = Capture(*frm); }, [&] { before = Capture(*frm); });

  ExpectLooksLikeTheScreen(before, *frm);
  ExpectLooksLikeTheScreen(during, *frm);
  ExpectLooksLikeTheScreen(after, *frm);
  Save(before, "conversion-before.png");
  Save(during, "conversion-during.png");
  Save(after, "conversion-after.png");
}

}  // namespace
}  // namespace mailfold::test
