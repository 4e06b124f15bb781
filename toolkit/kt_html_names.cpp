// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_names.h"

#include <utility>

#include "toolkit/kt_key_handlers.h"
#include "toolkit/kt_typed_containers.h"

namespace kt {
namespace {

struct NameAndId {
  const char16_t* name;
  uint32_t id;
};

constexpr NameAndId kTagNames[] = {
    {u"A", 1},         {u"ABBR", 2},      {u"ACRONYM", 3},    {u"ADDRESS", 4},   {u"APPLET", 5},
    {u"AREA", 6},      {u"B", 7},         {u"BASE", 8},       {u"BASEFONT", 9},  {u"BDO", 10},
    {u"BGSOUND", 11},  {u"BIG", 12},      {u"BLOCKQUOTE", 13}, {u"BODY", 14},    {u"BR", 15},
    {u"BUTTON", 16},   {u"CAPTION", 17},  {u"CENTER", 18},    {u"CITE", 19},     {u"CODE", 20},
    {u"COL", 21},      {u"COLGROUP", 22}, {u"DD", 24},        {u"DEL", 25},      {u"DFN", 26},
    {u"DIR", 27},      {u"DIV", 28},      {u"DL", 29},        {u"DT", 30},       {u"EM", 35},
    {u"EMBED", 36},    {u"FIELDSET", 38}, {u"FONT", 40},      {u"FORM", 41},     {u"FRAME", 42},
    {u"FRAMESET", 43}, {u"H1", 45},       {u"H2", 46},        {u"H3", 47},       {u"H4", 48},
    {u"H5", 49},       {u"H6", 50},       {u"HEAD", 51},      {u"HR", 52},       {u"HTML", 53},
    {u"I", 54},        {u"IFRAME", 56},   {u"IMAGE", 57},     {u"IMG", 58},      {u"INPUT", 60},
    {u"INS", 61},      {u"ISINDEX", 62},  {u"KBD", 63},       {u"LABEL", 64},    {u"LEGEND", 65},
    {u"LI", 66},       {u"LINK", 67},     {u"MAP", 68},       {u"MENU", 69},     {u"META", 70},
    {u"NOBR", 71},     {u"NOEMBED", 72},  {u"NOFRAMES", 73},  {u"NOSCRIPT", 74}, {u"OBJECT", 75},
    {u"OL", 76},       {u"OPTGROUP", 77}, {u"OPTION", 78},    {u"P", 79},        {u"PARAM", 80},
    {u"PRE", 81},      {u"Q", 83},        {u"S", 84},         {u"SAMP", 85},     {u"SCRIPT", 86},
    {u"SELECT", 87},   {u"SMALL", 89},    {u"SPAN", 90},      {u"STRIKE", 91},   {u"STRONG", 92},
    {u"STYLE", 93},    {u"SUB", 94},      {u"SUP", 95},       {u"TABLE", 96},    {u"TBODY", 97},
    {u"TD", 98},       {u"TEXTAREA", 99}, {u"TFOOT", 100},    {u"TH", 101},      {u"THEAD", 102},
    {u"TITLE", 103},   {u"TR", 104},      {u"TT", 105},       {u"U", 106},       {u"UL", 107},
    {u"VAR", 108},
};

// "encoding" sits under 41, between "disabled" and "enctype", so that the
// encoding of an XML declaration can be read like any attribute.
constexpr NameAndId kAttribNames[] = {
    {u"abbr", 1},          {u"accept", 2},        {u"accept-charset", 3}, {u"accesskey", 4},
    {u"action", 5},        {u"align", 6},         {u"alink", 7},          {u"alt", 8},
    {u"archive", 9},       {u"axis", 10},         {u"background", 11},    {u"bgcolor", 12},
    {u"border", 13},       {u"cellpadding", 14},  {u"cellspacing", 15},   {u"char", 17},
    {u"charoff", 18},      {u"charset", 19},      {u"checked", 20},       {u"cite", 21},
    {u"class", 22},        {u"classid", 23},      {u"clear", 24},         {u"code", 26},
    {u"codebase", 27},     {u"codetype", 28},     {u"color", 29},         {u"cols", 30},
    {u"colspan", 31},      {u"compact", 32},      {u"content", 33},       {u"coords", 34},
    {u"data", 35},         {u"datetime", 36},     {u"declare", 37},       {u"defer", 38},
    {u"dir", 39},          {u"disabled", 40},     {u"encoding", 41},      {u"enctype", 42},
    {u"face", 45},         {u"for", 47},          {u"frame", 48},         {u"frameborder", 49},
    {u"headers", 50},      {u"height", 51},       {u"href", 52},          {u"hreflang", 53},
    {u"hspace", 54},       {u"http-equiv", 55},   {u"id", 56},            {u"ismap", 57},
    {u"label", 58},        {u"lang", 59},         {u"language", 60},      {u"link", 61},
    {u"longdesc", 62},     {u"lowsrc", 63},       {u"marginheight", 64},  {u"marginwidth", 65},
    {u"maxlength", 66},    {u"media", 67},        {u"method", 68},        {u"multiple", 69},
    {u"name", 70},         {u"nohref", 71},       {u"noresize", 72},      {u"noshade", 73},
    {u"nowrap", 74},       {u"object", 75},       {u"onblur", 76},        {u"onchange", 77},
    {u"onclick", 78},      {u"ondblclick", 79},   {u"onfocus", 80},       {u"onkeydown", 81},
    {u"onkeypress", 82},   {u"onkeyup", 83},      {u"onload", 84},        {u"onmousedown", 85},
    {u"onmousemove", 86},  {u"onmouseout", 87},   {u"onmouseover", 88},   {u"onmouseup", 89},
    {u"onreset", 90},      {u"onselect", 91},     {u"onsubmit", 92},      {u"onunload", 93},
    {u"profile", 94},      {u"prompt", 95},       {u"readonly", 96},      {u"rel", 97},
    {u"rev", 98},          {u"rows", 99},         {u"rowspan", 100},      {u"rules", 101},
    {u"scheme", 102},      {u"scope", 103},       {u"scrolling", 104},    {u"selected", 105},
    {u"shape", 106},       {u"size", 107},        {u"span", 109},         {u"src", 110},
    {u"standby", 111},     {u"start", 112},       {u"style", 113},        {u"summary", 114},
    {u"tabindex", 115},    {u"target", 116},      {u"text", 117},         {u"title", 119},
    {u"type", 120},        {u"usemap", 121},      {u"valign", 122},       {u"value", 123},
    {u"valuetype", 124},   {u"version", 126},     {u"vlink", 128},        {u"vspace", 129},
    {u"width", 130},
};

// U+00A0 to U+00FF in order.
constexpr const char16_t* kLatin1Entities[] = {
    u"nbsp",   u"iexcl",  u"cent",   u"pound",  u"curren", u"yen",    u"brvbar", u"sect",
    u"uml",    u"copy",   u"ordf",   u"laquo",  u"not",    u"shy",    u"reg",    u"macr",
    u"deg",    u"plusmn", u"sup2",   u"sup3",   u"acute",  u"micro",  u"para",   u"middot",
    u"cedil",  u"sup1",   u"ordm",   u"raquo",  u"frac14", u"frac12", u"frac34", u"iquest",
    u"Agrave", u"Aacute", u"Acirc",  u"Atilde", u"Auml",   u"Aring",  u"AElig",  u"Ccedil",
    u"Egrave", u"Eacute", u"Ecirc",  u"Euml",   u"Igrave", u"Iacute", u"Icirc",  u"Iuml",
    u"ETH",    u"Ntilde", u"Ograve", u"Oacute", u"Ocirc",  u"Otilde", u"Ouml",   u"times",
    u"Oslash", u"Ugrave", u"Uacute", u"Ucirc",  u"Uuml",   u"Yacute", u"THORN",  u"szlig",
    u"agrave", u"aacute", u"acirc",  u"atilde", u"auml",   u"aring",  u"aelig",  u"ccedil",
    u"egrave", u"eacute", u"ecirc",  u"euml",   u"igrave", u"iacute", u"icirc",  u"iuml",
    u"eth",    u"ntilde", u"ograve", u"oacute", u"ocirc",  u"otilde", u"ouml",   u"divide",
    u"oslash", u"ugrave", u"uacute", u"ucirc",  u"uuml",   u"yacute", u"thorn",  u"yuml",
};

// U+0391 to U+03A9 and U+03B1 to U+03C9 (U+03A2 has no name).
constexpr const char16_t* kGreekEntities[] = {
    u"Alpha", u"Beta", u"Gamma",   u"Delta", u"Epsilon", u"Zeta",  u"Eta",   u"Theta",
    u"Iota",  u"Kappa", u"Lambda", u"Mu",    u"Nu",      u"Xi",    u"Omicron", u"Pi",
    u"Rho",   nullptr, u"Sigma",   u"Tau",   u"Upsilon", u"Phi",   u"Chi",   u"Psi",
    u"Omega",
};
constexpr const char16_t* kGreekSmallEntities[] = {
    u"alpha", u"beta",  u"gamma",  u"delta", u"epsilon", u"zeta", u"eta", u"theta",
    u"iota",  u"kappa", u"lambda", u"mu",    u"nu",      u"xi",   u"omicron", u"pi",
    u"rho",   u"sigmaf", u"sigma", u"tau",   u"upsilon", u"phi",  u"chi", u"psi",
    u"omega",
};

constexpr NameAndId kOtherEntities[] = {
    {u"quot", 34},      {u"amp", 38},       {u"apos", 39},     {u"lt", 60},       {u"gt", 62},
    {u"OElig", 338},    {u"oelig", 339},    {u"Scaron", 352},  {u"scaron", 353},  {u"Yuml", 376},
    {u"fnof", 402},     {u"circ", 710},     {u"tilde", 732},   {u"thetasym", 977}, {u"upsih", 978},
    {u"piv", 982},      {u"ensp", 8194},    {u"emsp", 8195},   {u"thinsp", 8201}, {u"zwnj", 8204},
    {u"zwj", 8205},     {u"lrm", 8206},     {u"rlm", 8207},    {u"ndash", 8211},  {u"mdash", 8212},
    {u"lsquo", 8216},   {u"rsquo", 8217},   {u"sbquo", 8218},  {u"ldquo", 8220},  {u"rdquo", 8221},
    {u"bdquo", 8222},   {u"dagger", 8224},  {u"Dagger", 8225}, {u"bull", 8226},   {u"hellip", 8230},
    {u"permil", 8240},  {u"prime", 8242},   {u"Prime", 8243},  {u"lsaquo", 8249}, {u"rsaquo", 8250},
    {u"oline", 8254},   {u"frasl", 8260},   {u"euro", 8364},   {u"image", 8465},  {u"weierp", 8472},
    {u"real", 8476},    {u"trade", 8482},   {u"alefsym", 8501}, {u"larr", 8592},  {u"uarr", 8593},
    {u"rarr", 8594},    {u"darr", 8595},    {u"harr", 8596},   {u"crarr", 8629},  {u"lArr", 8656},
    {u"uArr", 8657},    {u"rArr", 8658},    {u"dArr", 8659},   {u"hArr", 8660},   {u"forall", 8704},
    {u"part", 8706},    {u"exist", 8707},   {u"empty", 8709},  {u"nabla", 8711},  {u"isin", 8712},
    {u"notin", 8713},   {u"ni", 8715},      {u"prod", 8719},   {u"sum", 8721},    {u"minus", 8722},
    {u"lowast", 8727},  {u"radic", 8730},   {u"prop", 8733},   {u"infin", 8734},  {u"ang", 8736},
    {u"and", 8743},     {u"or", 8744},      {u"cap", 8745},    {u"cup", 8746},    {u"int", 8747},
    {u"there4", 8756},  {u"sim", 8764},     {u"cong", 8773},   {u"asymp", 8776},  {u"ne", 8800},
    {u"equiv", 8801},   {u"le", 8804},      {u"ge", 8805},     {u"sub", 8834},    {u"sup", 8835},
    {u"nsub", 8836},    {u"sube", 8838},    {u"supe", 8839},   {u"oplus", 8853},  {u"otimes", 8855},
    {u"perp", 8869},    {u"sdot", 8901},    {u"lceil", 8968},  {u"rceil", 8969},  {u"lfloor", 8970},
    {u"rfloor", 8971},  {u"lang", 9001},    {u"rang", 9002},   {u"loz", 9674},    {u"spades", 9824},
    {u"clubs", 9827},   {u"hearts", 9829},  {u"diams", 9830},
};

// The tables are never freed: a parser may still run while static objects
// are destroyed at exit.
TKtCardinalHash& TagTable() {
  static TKtCardinalHash* table = new TKtCardinalHash(WideStringCIKeyHandler());
  return *table;
}

TKtCardinalHash& AttribTable() {
  static TKtCardinalHash* table = new TKtCardinalHash(WideStringCIKeyHandler());
  return *table;
}

void Store(TKtCardinalHash& table, const WideString& name, uint32_t id) {
  const TKtWideStringRef key = TKtWideStringRef::Borrow(name);
  *static_cast<uint32_t*>(table.InsertKey(&key)) = id;
}

void AddEntity(TKtWideStringHash& table, const char16_t* name, uint32_t code) {
  const WideString key_text(name);
  const TKtWideStringRef key = TKtWideStringRef::Borrow(key_text);
  const WideChar c = static_cast<WideChar>(code);
  static_cast<TKtWideStringRef*>(table.InsertKey(&key))->Assign(std::u16string_view(&c, 1));
}

TKtWideStringHash* MakeEntityTable() {
  auto* table = new TKtWideStringHash(WideStringCSKeyHandler());
  table->SetHashCount(255);
  for (uint32_t i = 0; i < std::size(kLatin1Entities); ++i) AddEntity(*table, kLatin1Entities[i], 0xA0 + i);
  for (uint32_t i = 0; i < std::size(kGreekEntities); ++i) {
    if (kGreekEntities[i]) AddEntity(*table, kGreekEntities[i], 0x391 + i);
    AddEntity(*table, kGreekSmallEntities[i], 0x3B1 + i);
  }
  for (const NameAndId& entry : kOtherEntities) AddEntity(*table, entry.name, entry.id);
  return table;
}

const TKtWideStringHash& EntityTable() {
  static const TKtWideStringHash* table = MakeEntityTable();
  return *table;
}

template <size_t N>
void RegisterAll(TKtCardinalHash& table, const NameAndId (&names)[N], int32_t hash_count) {
  if (table.HashCount() < hash_count) table.SetHashCount(hash_count);
  for (const NameAndId& entry : names) Store(table, entry.name, entry.id);
}

}  // namespace

void RegisterHtmlTag(const WideString& name, uint32_t id) { Store(TagTable(), name, id); }
void RegisterHtmlAttrib(const WideString& name, uint32_t id) { Store(AttribTable(), name, id); }
void RegisterHtmlTagNames() { RegisterAll(TagTable(), kTagNames, 95); }
void RegisterHtmlAttribNames() { RegisterAll(AttribTable(), kAttribNames, 120); }

uint32_t HtmlTagID(const WideChar* name, int32_t length) { return TagTable().ValueOfKey(name, length); }
uint32_t HtmlAttribID(const WideChar* name, int32_t length) { return AttribTable().ValueOfKey(name, length); }

const WideString* FindHtmlEntity(const WideChar* name, int32_t length) {
  const TKtWideStringHash& table = EntityTable();
  const int32_t index = table.IndexOfKeyBuf(name, length);
  return index < 0 ? nullptr : &static_cast<const TKtWideStringRef*>(table.GetItem(index))->Get();
}

}  // namespace kt
