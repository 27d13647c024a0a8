// Column layouts of the template tables and the other fixed tables of a new store.
//
// Generated from the tables of an empty store made by Outlook 2010 (the same layouts appear in
// every store made by Outlook 2010 to 365): tags sorted ascending, with Outlook's own row offsets
// and cell-existence bits, so that rows we write sit where Outlook expects each value.
#include "pst/messaging/template_tables.h"

namespace mailfold::pst {
namespace {

// folder hierarchy tables (node 0x60D)
const TableLayout k_hierarchyTemplate{0x60D, {52, 52, 53, 55}, {
    {0x0E300102, 20, 4, 6},
    {0x0E330014, 24, 8, 7},
    {0x0E340102, 32, 4, 8},
    {0x0E380003, 36, 4, 9},
    {0x3001001F, 8, 4, 2},
    {0x36020003, 12, 4, 3},
    {0x36030003, 16, 4, 4},
    {0x360A000B, 52, 1, 5},
    {0x3613001F, 40, 4, 10},
    {0x66350003, 44, 4, 11},
    {0x66360003, 48, 4, 12},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// folder contents tables (node 0x60E)
const TableLayout k_contentsTemplate{0x60E, {120, 120, 122, 126}, {
    {0x00170003, 20, 4, 5},
    {0x001A001F, 12, 4, 3},
    {0x00360003, 60, 4, 15},
    {0x0037001F, 28, 4, 7},
    {0x00390040, 40, 8, 9},
    {0x0042001F, 24, 4, 6},
    {0x0057000B, 120, 1, 13},
    {0x0058000B, 121, 1, 14},
    {0x0070001F, 68, 4, 17},
    {0x00710102, 72, 4, 18},
    {0x0E03001F, 56, 4, 12},
    {0x0E04001F, 52, 4, 11},
    {0x0E060040, 32, 8, 8},
    {0x0E070003, 16, 4, 4},
    {0x0E080003, 48, 4, 10},
    {0x0E170003, 8, 4, 2},
    {0x0E300102, 92, 4, 22},
    {0x0E330014, 96, 8, 23},
    {0x0E340102, 104, 4, 24},
    {0x0E380003, 116, 4, 27},
    {0x0E3C0102, 112, 4, 26},
    {0x0E3D0102, 108, 4, 25},
    {0x10970003, 64, 4, 16},
    {0x30080040, 84, 8, 21},
    {0x30130102, 76, 4, 19},
    {0x65C60003, 80, 4, 20},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// associated (hidden) contents tables (node 0x60F)
const TableLayout k_assocContentsTemplate{0x60F, {56, 56, 57, 59}, {
    {0x001A001F, 12, 4, 3},
    {0x0E070003, 16, 4, 4},
    {0x0E170003, 8, 4, 2},
    {0x3001001F, 20, 4, 5},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
    {0x6800001F, 44, 4, 11},
    {0x6803000B, 56, 1, 12},
    {0x68051003, 48, 4, 13},
    {0x682F001F, 52, 4, 14},
    {0x70030003, 24, 4, 6},
    {0x70040102, 28, 4, 7},
    {0x70050102, 32, 4, 8},
    {0x7006001F, 36, 4, 9},
    {0x70070003, 40, 4, 10},
}};

// search folder contents tables (node 0x610)
const TableLayout k_searchContentsTemplate{0x610, {72, 72, 75, 78}, {
    {0x00170003, 28, 4, 7},
    {0x001A001F, 20, 4, 5},
    {0x00360003, 60, 4, 16},
    {0x0037001F, 36, 4, 9},
    {0x0042001F, 32, 4, 8},
    {0x0057000B, 72, 1, 14},
    {0x0058000B, 73, 1, 15},
    {0x0E03001F, 56, 4, 13},
    {0x0E04001F, 52, 4, 12},
    {0x0E05001F, 12, 4, 3},
    {0x0E060040, 40, 8, 10},
    {0x0E070003, 24, 4, 6},
    {0x0E080003, 48, 4, 11},
    {0x0E170003, 16, 4, 4},
    {0x0E2A000B, 74, 1, 17},
    {0x30080040, 64, 8, 18},
    {0x67F10003, 8, 4, 2},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// attachment tables (node 0x671)
const TableLayout k_attachmentTemplate{0x671, {24, 24, 24, 25}, {
    {0x0E200003, 12, 4, 3},
    {0x3704001F, 20, 4, 5},
    {0x37050003, 16, 4, 4},
    {0x370B0003, 8, 4, 2},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// recipient tables (node 0x692)
const TableLayout k_recipientTemplate{0x692, {48, 48, 50, 52}, {
    {0x0C150003, 24, 4, 7},
    {0x0E0F000B, 48, 1, 2},
    {0x0FF90102, 32, 4, 9},
    {0x0FFE0003, 36, 4, 10},
    {0x0FFF0102, 16, 4, 5},
    {0x3001001F, 20, 4, 6},
    {0x3002001F, 8, 4, 3},
    {0x3003001F, 12, 4, 4},
    {0x300B0102, 28, 4, 8},
    {0x39000003, 40, 4, 11},
    {0x39FF001F, 44, 4, 13},
    {0x3A40000B, 49, 1, 12},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// the receive folder table (node 0x62B)
const TableLayout k_receiveFolderTable{0x62B, {16, 16, 16, 17}, {
    {0x001A001F, 12, 4, 3},
    {0x66050003, 8, 4, 2},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// the outgoing queue table (node 0x64C)
const TableLayout k_outgoingQueueTable{0x64C, {44, 44, 44, 46}, {
    {0x000F0040, 36, 8, 8},
    {0x00390040, 16, 8, 4},
    {0x0E070003, 32, 4, 7},
    {0x0E100003, 12, 4, 3},
    {0x0E140003, 8, 4, 2},
    {0x0E29001F, 28, 4, 6},
    {0x67F10003, 24, 4, 5},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// an internal table of node type 0x16 (node 0x6B6)
const TableLayout k_internalTable6b6{0x6B6, {24, 24, 24, 25}, {
    {0x0E330014, 8, 8, 2},
    {0x0E370102, 16, 4, 3},
    {0x0E380003, 20, 4, 4},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// an internal table of node type 0x17 (node 0x6D7)
const TableLayout k_internalTable6d7{0x6D7, {40, 40, 40, 42}, {
    {0x001A001F, 36, 4, 8},
    {0x0E300102, 16, 4, 4},
    {0x0E310102, 12, 4, 3},
    {0x0E330014, 28, 8, 7},
    {0x0E340102, 24, 4, 6},
    {0x0E380003, 20, 4, 5},
    {0x0E3E0102, 8, 4, 2},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

// an internal table of node type 0x18 (node 0x6F8)
const TableLayout k_internalTable6f8{0x6F8, {24, 24, 24, 25}, {
    {0x0E330014, 16, 8, 3},
    {0x30070040, 8, 8, 2},
    {0x67F20003, 0, 4, 0},
    {0x67F30003, 4, 4, 1},
}};

}  // namespace

const TableLayout& hierarchyTemplate() { return k_hierarchyTemplate; }
const TableLayout& contentsTemplate() { return k_contentsTemplate; }
const TableLayout& assocContentsTemplate() { return k_assocContentsTemplate; }
const TableLayout& searchContentsTemplate() { return k_searchContentsTemplate; }
const TableLayout& attachmentTemplate() { return k_attachmentTemplate; }
const TableLayout& recipientTemplate() { return k_recipientTemplate; }
const TableLayout& receiveFolderTable() { return k_receiveFolderTable; }
const TableLayout& outgoingQueueTable() { return k_outgoingQueueTable; }
const TableLayout& internalTable6b6() { return k_internalTable6b6; }
const TableLayout& internalTable6d7() { return k_internalTable6d7; }
const TableLayout& internalTable6f8() { return k_internalTable6f8; }

const TableLayout* fixedTableLayout(ndb::Nid nid) {
  for (const TableLayout* t : {&k_hierarchyTemplate, &k_contentsTemplate, &k_assocContentsTemplate, &k_searchContentsTemplate, &k_attachmentTemplate, &k_recipientTemplate, &k_receiveFolderTable, &k_outgoingQueueTable, &k_internalTable6b6, &k_internalTable6d7, &k_internalTable6f8})
    if (t->nid == nid) return t;
  return nullptr;
}

}  // namespace mailfold::pst
