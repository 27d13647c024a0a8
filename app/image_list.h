// The seven 16 x 16 images of the multiple-folder screen's image list, drawn here so that no
// image files need to ship. Order: 1 document with a red badge, 2 closed folder, 3 closed
// folder, 4 person, 5 person in a suit, 6 open padlock, 7 green check mark.
#pragma once

#include <wx/bitmap.h>
#include <wx/imaglist.h>

namespace mailfold::app {

enum class ListImage { Document = 1, Folder = 2, FolderAlt = 3, Person = 4, PersonInSuit = 5, Padlock = 6, Check = 7 };

// Zero-based index of an image in the list made by MakeImageList1.
constexpr int ImageIndex(ListImage image) { return static_cast<int>(image) - 1; }

wxBitmap DrawListImage(ListImage image);
wxImageList* MakeImageList1();

// The small yellow note sign beside the single-folder screen's hint.
wxBitmap DrawNoteIcon();
// The program's icon, 32 x 32: a letter going into a folder.
wxBitmap DrawProgramIcon();

}  // namespace mailfold::app
