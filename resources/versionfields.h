// versionfields.h - the text fields of the setup program's version resource
// that the builder fills in for each product. The stub reserves each field
// with a placeholder of the field's full width; the builder finds the
// placeholder (UTF-16, as resources store text) and writes the product's text
// over it, padded with NULs, so the file keeps its size and layout.
// Shared by setup.rc and the builder: the placeholders are the one source.
#ifndef VERSIONFIELDS_H
#define VERSIONFIELDS_H

// Widths in characters, terminator included. The description is
// "<product> Setup": a 31-character product name and " Setup" fit.
#define VERSION_DESCRIPTION_PLACEHOLDER "<FileDescription______________________>"
#define VERSION_PRODUCT_NAME_PLACEHOLDER "<ProductName__________________>"
#define VERSION_PRODUCT_VERSION_PLACEHOLDER "<ProductVersion>"
#define VERSION_COMPANY_PLACEHOLDER "<CompanyName__________________________________________________>"

// The key of the publisher's field: the installer reads it back for the
// uninstall entry.
#define VERSION_COMPANY_KEY "CompanyName"

#endif
