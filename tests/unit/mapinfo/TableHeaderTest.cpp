#include <gtest/gtest.h>

#include "engines/mapinfo/MapInfoError.h"
#include "engines/mapinfo/TableHeader.h"

using mapinfo::MapInfoError;
using mapinfo::ParseTableHeader;
using mapinfo::TableKind;

namespace {

struct KindCase {
    const char* what;
    const char* text;
    TableKind kind;
    bool seamless;
};

TEST(TableHeader, KindsAreRecognised) {
    const KindCase cases[] = {
        {"native, as GDAL writes it",
         "!table\n!version 300\n!charset Neutral\n\nDefinition Table\n  Type NATIVE Charset \"Neutral\"\n"
         "  Fields 2\n    Name Char (30) ;\n    Kind Char (12) ;\n",
         TableKind::Native, false},
        {"seamless: native with metadata, CR LF, odd case and blanks",
         "!TABLE\r\n!version 300\r\nDefinition Table\r\n Type Native\r\n Fields 1\r\n  Table Char (100) Index 1 ;\r\n"
         "BEGIN_METADATA\r\n\"\\isseamless\"   =  \"true\"\r\n\"\\IsReadOnly\" = \"FALSE\"\r\nEnd_Metadata\r\n",
         TableKind::Native, true},
        {"metadata saying FALSE is not seamless",
         "!table\nDefinition Table\nType NATIVE\nFields 0\nbegin_metadata\n\"\\IsSeamless\" = "
         "\"FALSE\"\nend_metadata\n",
         TableKind::Native, false},
        {"view",
         "!table\n!version 300\n\nOpen Table \"Roads\" Hide\nOpen Table \"Towns\" Hide\n\nCreate View Big As\nSelect * "
         "From Roads\n",
         TableKind::View, false},
        {"raster", "!table\nDefinition Table\n  File \"Photo.tif\"\n  Type \"RASTER\"\n  (0,0) (0,0) Label \"Pt 1\",\n",
         TableKind::Raster, false},
        {"raster wins over Access",
         "!table\nDefinition Table\n  Type \"RASTER\"\n  Type ACCESS Table \"x\"\n  File \"a.mdb\"\n",
         TableKind::Raster, false},
        {"Access", "!table\nDefinition Table\n  Type ACCESS Table \"Orders\" File \"Sales.mdb\"\n", TableKind::Access,
         false},
        {"linked", "!table\nDefinition Table\n  Type LINKED Connection \"DSN=x\" Table \"t\"\n", TableKind::Linked,
         false},
        {"foreign type", "!table\nDefinition Table\n  Type DBF Charset \"WindowsLatin1\"\n", TableKind::Foreign, false},
        {"seamless metadata on a raster does not count",
         "!table\nDefinition Table\nFile \"a.png\"\nType \"RASTER\"\nbegin_metadata\n\"\\IsSeamless\" = "
         "\"TRUE\"\nend_metadata\n",
         TableKind::Raster, false},
        {"a stub that opens another table",
         "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\nOpen Table \".\\DATA\\Roads\\roads.TAB\" As "
         "Roads\r\n",
         TableKind::Redirect, false},
        {"a stub that runs a workspace",
         "!Table\r\n!Version 300\r\n\r\nRun Application \".\\DATA\\Roads\\Seamless.Wor\"\r\n", TableKind::Workspace,
         false},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto h = ParseTableHeader(c.text, "x.TAB");
        EXPECT_EQ(h.kind, c.kind);
        EXPECT_EQ(h.seamless, c.seamless);
    }
}

TEST(TableHeader, FieldsFilesAndTablesAreTaken) {
    auto h = ParseTableHeader(
        "!table\nDefinition Table\n  Type NATIVE\n  Fields 3\n    Name Char (30) ;\n    `Long Name` Integer ;\n"
        "    Area Decimal (8,2) ;\n",
        "x.TAB");
    ASSERT_EQ(h.fields.size(), 3u);
    EXPECT_EQ(h.fields[0].name, "Name");
    EXPECT_EQ(h.fields[0].type, "Char");
    EXPECT_EQ(h.fields[1].name, "Long Name");
    EXPECT_EQ(h.fields[1].type, "Integer");
    EXPECT_EQ(h.fields[2].type, "Decimal");

    auto r =
        ParseTableHeader("!table\nDefinition Table\n  File \"D:\\Scans\\Photo.tif\"\n  Type \"RASTER\"\n", "x.TAB");
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files[0], "D:\\Scans\\Photo.tif");

    auto v = ParseTableHeader(
        "!table\nOpen Table \"Roads\" Hide\nOpen Table \"..\\Towns\\Towns\" Hide\nCreate View V As\n", "x.TAB");
    EXPECT_EQ(v.openTables, (std::vector<std::string>{"Roads", "..\\Towns\\Towns"}));
}

TEST(TableHeader, DamagedOrForeignTextIsRefused) {
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"a workspace", "!Workspace\r\n!Version 600\r\nOpen Table \"x\" As x\r\n"},
        {"binary", std::string("\x00\x01\x02!table", 9)},
        {"no definition at all", "!table\n!version 300\n"},
        {"absurd field count", "!table\nDefinition Table\nType NATIVE\nFields 99999999999999999999\n"},
        {"field count above the format's limit", "!table\nDefinition Table\nType NATIVE\nFields 2047\n"},
        {"field count not a number", "!table\nDefinition Table\nType NATIVE\nFields many\n"},
        {"field count missing", "!table\nDefinition Table\nType NATIVE\nFields\n"},
        {"ends inside the field list", "!table\nDefinition Table\nType NATIVE\nFields 3\n  A Char (1) ;\n"},
        {"field line without a type", "!table\nDefinition Table\nType NATIVE\nFields 1\n  A\n"},
        {"back-quoted name never closed", "!table\nDefinition Table\nType NATIVE\nFields 1\n  `A Char (1) ;\n"},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        EXPECT_THROW(ParseTableHeader(text, "x.TAB"), MapInfoError);
    }
}

}  // namespace
