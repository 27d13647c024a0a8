#include "app/image_list.h"

#include <wx/dcmemory.h>

namespace mailfold::app {

namespace {

// Draws on a transparent canvas of the given size.
template <typename Paint>
wxBitmap Painted(int size, Paint paint) {
  wxBitmap bitmap(size, size, 32);
  {
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(255, 0, 255)));
    dc.Clear();
    paint(dc);
  }
  wxImage drawn = bitmap.ConvertToImage();
  drawn.SetMaskColour(255, 0, 255);
  return wxBitmap(drawn);
}

void Folder(wxDC& dc, const wxColour& body) {
  dc.SetPen(wxPen(wxColour(160, 120, 30)));
  dc.SetBrush(wxBrush(body));
  dc.DrawRectangle(1, 3, 7, 3);   // tab
  dc.DrawRectangle(1, 5, 14, 9);  // body
}

void Person(wxDC& dc, const wxColour& clothes, bool tie) {
  dc.SetPen(wxPen(wxColour(120, 80, 50)));
  dc.SetBrush(wxBrush(wxColour(250, 210, 170)));
  dc.DrawEllipse(5, 1, 6, 6);  // head
  dc.SetPen(wxPen(clothes.ChangeLightness(70)));
  dc.SetBrush(wxBrush(clothes));
  dc.DrawRoundedRectangle(3, 8, 10, 8, 2);  // shoulders
  if (tie) {
    dc.SetPen(wxPen(wxColour(200, 0, 0)));
    dc.DrawLine(8, 8, 8, 14);
  }
}

}  // namespace

wxBitmap DrawListImage(ListImage which) {
  return Painted(16, [which](wxDC& dc) {
    switch (which) {
      case ListImage::Document:
        dc.SetPen(wxPen(wxColour(90, 90, 90)));
        dc.SetBrush(*wxWHITE_BRUSH);
        dc.DrawRectangle(2, 1, 10, 14);
        dc.DrawLine(4, 4, 10, 4);
        dc.DrawLine(4, 7, 10, 7);
        dc.SetPen(wxPen(wxColour(170, 0, 0)));
        dc.SetBrush(wxBrush(wxColour(220, 0, 0)));
        dc.DrawEllipse(8, 8, 7, 7);
        break;
      case ListImage::Folder:
        Folder(dc, wxColour(250, 210, 90));
        break;
      case ListImage::FolderAlt:
        Folder(dc, wxColour(240, 190, 60));
        break;
      case ListImage::Person:
        Person(dc, wxColour(70, 120, 200), false);
        break;
      case ListImage::PersonInSuit:
        Person(dc, wxColour(50, 50, 60), true);
        break;
      case ListImage::Padlock:
        dc.SetPen(wxPen(wxColour(110, 110, 110), 2));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawArc(11, 7, 5, 7, 8, 7);  // shackle, swung open
        dc.SetPen(wxPen(wxColour(150, 110, 0)));
        dc.SetBrush(wxBrush(wxColour(230, 180, 40)));
        dc.DrawRectangle(2, 7, 10, 8);
        break;
      case ListImage::Check:
        dc.SetPen(wxPen(wxColour(0, 150, 0), 3));
        dc.DrawLine(2, 8, 6, 12);
        dc.DrawLine(6, 12, 14, 3);
        break;
    }
  });
}

wxImageList* MakeImageList1() {
  auto* list = new wxImageList(16, 16, true, 7);
  for (int i = 1; i <= 7; ++i) list->Add(DrawListImage(static_cast<ListImage>(i)));
  return list;
}

wxBitmap DrawNoteIcon() {
  return Painted(16, [](wxDC& dc) {
    dc.SetPen(wxPen(wxColour(170, 120, 0)));
    dc.SetBrush(wxBrush(wxColour(255, 200, 0)));
    const wxPoint triangle[] = {{8, 1}, {15, 14}, {1, 14}};
    dc.DrawPolygon(3, triangle);
    dc.SetPen(wxPen(*wxBLACK, 2));
    dc.DrawLine(8, 5, 8, 10);
    dc.DrawPoint(8, 12);
  });
}

wxBitmap DrawProgramIcon() {
  return Painted(32, [](wxDC& dc) {
    dc.SetPen(wxPen(wxColour(160, 120, 30)));
    dc.SetBrush(wxBrush(wxColour(250, 210, 90)));
    dc.DrawRectangle(2, 8, 12, 5);
    dc.DrawRectangle(2, 11, 28, 19);
    dc.SetPen(wxPen(wxColour(60, 60, 120)));
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.DrawRectangle(9, 2, 18, 13);
    dc.DrawLine(9, 2, 18, 9);
    dc.DrawLine(27, 2, 18, 9);
  });
}

}  // namespace mailfold::app
