#include "css/BRCSSPropertyRegistry.h"

#include <array>

namespace {

// One row of the table: the names that share a grammar (unused slots stay
// null) and the grammar, exact texts letter for letter. Constant-initialised,
// so the table is ready before any load-time object is built.
struct Row {
    std::array<const char*, 10> names;
    const char* grammar;
};

constexpr Row helperRows[] = {
    {{"%"}, "%|"},
    {{"blur", "blur-radius", "h-shadow", "length", "spread", "v-shadow", "z-axis"}, "length|"},
    {{"bpos-helper"}, "top|left|right|bottom|center|length|%|"},
    {{"verbpos"}, "top|left|right|bottom|center|"},
    {{"x-axis"}, "length|%|left|center|right|"},
    {{"y-axis"}, "length|%|top|center|bottom|"},
};

constexpr Row propertyRows[] = {
    // Shorthands: the grammar holds a sub-property list.
    {{"animation"}, "animation-name animation-duration animation-timing-function animation-delay animation-iteration-count animation-direction animation-fill-mode animation-play-state|"},
    {{"background"}, "background-color background-position/background-size background-repeat background-origin background-clip background-attachment background-image|initial|inherit|"},
    {{"background-position"}, "bpos-helper bpos-helper|%|length|initial|inherit|"},
    {{"border"}, "border-width border-style border-color|initial|inherit|number|"},
    {{"border-bottom", "border-left", "border-right", "border-top"}, "border-width border-style border-color|initial|inherit|"},
    {{"border-image"}, "border-image-source border-image-slice border-image-width border-image-outset border-image-repeat|initial|inherit|"},
    {{"box-shadow"}, "none|h-shadow v-shadow blur spread color|inset|initial|inherit|"},
    {{"column-rule"}, "column-rule-width column-rule-style column-rule-color|initial|inherit|"},
    {{"columns"}, "auto|column-width column-count|initial|inherit|"},
    {{"counter-increment", "counter-reset"}, "none|name number|initial|inherit|"},
    {{"flex"}, "flex-grow flex-shrink flex-basis|auto|initial|inherit|"},
    {{"flex-flow"}, "flex-direction flex-wrap|initial|inherit|"},
    {{"font"}, "font-style font-variant font-weight font-size/line-height|caption|icon|menu|message-box|small-caption|status-bar|initial|inherit|"},
    {{"list-style"}, "list-style-type list-style-position list-style-image|initial|inherit|none|"},
    {{"outline"}, "outline-color outline-style outline-width|initial|inherit|"},
    {{"perspective-origin"}, "x-axis y-axis|initial|inherit|"},
    {{"text-shadow"}, "h-shadow v-shadow blur-radius color|none|initial|inherit|"},
    {{"transform-origin"}, "x-axis y-axis z-axis|initial|inherit|"},
    {{"transition"}, "transition-property transition-duration transition-timing-function transition-delay|initial|inherit|"},

    // Grammars with a multiplicity form.
    {{"border-radius"}, "1-4 length|1-4 %|length|%|initial|inherit|"},
    {{"margin"}, "length|1-4 length|auto|%|initial|inherit|"},
    {{"padding"}, "length|1-4 length|initial|inherit|"},

    // Other grammars with at least one type word or property reference.
    {{"animation-delay", "animation-duration", "transition-delay", "transition-duration"}, "time|initial|inherit|"},
    {{"animation-iteration-count"}, "number|infinite|initial|inherit|"},
    {{"animation-timing-function"}, "linear|ease|ease-in|ease-out|cubic-bezier(n,n,n,n)|initial|inherit|"},
    {{"background-color", "border-bottom-color", "border-color", "border-left-color", "border-right-color", "border-top-color"}, "color|transparent|initial|inherit|"},
    {{"background-image"}, "url|none|initial|inherit|"},
    {{"background-size"}, "auto|length|cover|contain|initial|inherit|"},
    {{"border-bottom-left-radius", "border-bottom-right-radius", "border-top-left-radius", "border-top-right-radius", "min-height", "min-width", "padding-bottom", "padding-left", "padding-right", "padding-top"}, "length|%|initial|inherit|"},
    {{"border-bottom-width", "border-left-width", "border-right-width", "border-top-width", "border-width", "column-rule-width", "outline-width"}, "medium|thin|thick|length|initial|inherit|"},
    {{"border-image-outset"}, "length|number|initial|inherit|"},
    {{"border-image-slice"}, "number|%|fill|initial|inherit|"},
    {{"border-image-width"}, "number|%|auto|initial|inherit|"},
    {{"border-spacing", "outline-offset", "text-indent"}, "length|initial|inherit|"},
    {{"bottom", "column-width", "height", "left", "right", "top"}, "auto|length|initial|inherit|"},
    {{"color", "column-rule-color", "text-decoration-color"}, "color|initial|inherit|"},
    {{"column-count", "flex-basis"}, "number|auto|initial|inherit|"},
    {{"column-gap"}, "length|normal|initial|inherit|"},
    {{"content"}, "normal|none|counter|attr|string|open-quote|close-quote|no-open-quote|no-close-quote|url|initial|inherit|"},
    {{"display"}, "inline|block|flex|inline-block|inline-flex|inline-table|list-item|run-in|table|table-caption|table-column-group|table-header-group|table-footer-group|table-row-group|table-cell|table-column|table-row|none|initial|inherit|"},
    {{"flex-grow", "flex-shrink", "opacity", "order"}, "number|initial|inherit|"},
    {{"font-family"}, "font|initial|inherit|"},
    {{"font-size"}, "medium|xx-small|x-small|small|large|x-large|xx-large|smaller|larger|length|%|initial|inherit|"},
    {{"font-size-adjust"}, "number|none|initial|inherit|"},
    {{"font-weight"}, "normal|bold|bolder|lighter|number|initial|inherit|"},
    {{"letter-spacing", "word-spacing"}, "normal|length|initial|inherit|"},
    {{"line-height"}, "normal|number|length|initial|inherit|"},
    {{"list-style-image"}, "none|url|initial|inherit|"},
    {{"margin-bottom", "margin-left", "margin-right", "margin-top"}, "length|auto|%|initial|inherit|"},
    {{"max-height", "max-width"}, "none|length|%|initial|inherit|"},
    {{"nav-index", "z-index"}, "auto|number|initial|inherit|"},
    {{"outline-color"}, "invert|color|initial|inherit|"},
    {{"perspective"}, "length|none|"},
    {{"quotes"}, "none|string|initial|inherit|"},
    {{"tab-size"}, "number|length|initial|inherit|"},
    {{"text-overflow"}, "clip|ellipsis|string|initial|inherit|"},
    {{"transition-property"}, "none|all|property|initial|inherit|"},
    {{"transition-timing-function"}, "ease|linear|ease-in|ease-out|ease-in-out|cubic-bezier(n,n,n,n)|initial|inherit|"},
    {{"vertical-align"}, "baseline|length|sub|super|top|text-top|middle|bottom|text-bottom|initial|inherit|"},
    {{"width"}, "auto|length|%|initial|inherit|"},

    // Grammars made of keywords only.
    {{"align-content"}, "stretch|center|flex-start|flex-end|space-between|space-around|initial|inherit|"},
    {{"align-items"}, "stretch|center|flex-start|flex-end|baseline|initial|inherit|"},
    {{"align-self"}, "auto|stretch|center|flex-start|flex-end|baseline|initial|inherit|"},
    {{"animation-direction"}, "normal|reverse|alternate|alternate-reverse|initial|inherit|"},
    {{"animation-fill-mode"}, "none|forwards|backwards|both|initial|inherit|"},
    {{"animation-name"}, "keyframename|none|initial|inherit|"},
    {{"animation-play-state"}, "paused|running|initial|inherit|"},
    {{"backface-visibility"}, "visible|hidden|initial|inherit|"},
    {{"background-attachment"}, "scroll|fixed|local|initial|inherit|"},
    {{"background-clip"}, "border-box|padding-box|content-box|initial|inherit|"},
    {{"background-origin"}, "padding-box|border-box|content-box|initial|inherit|"},
    {{"background-repeat"}, "repeat|repeat-x|repeat-y|no-repeat|initial|inherit|"},
    {{"border-bottom-style", "border-left-style", "border-right-style", "border-style", "border-top-style", "column-rule-style", "outline-style"}, "none|hidden|dotted|dashed|solid|double|groove|ridge|inset|outset|initial|inherit|"},
    {{"border-collapse"}, "separate|collapse|initial|inherit|"},
    {{"border-image-repeat"}, "stretch|repeat|round|initial|inherit|"},
    {{"border-image-source"}, "none|image|initial|inherit|"},
    {{"box-sizing"}, "content-box|border-box|initial|inherit|"},
    {{"caption-side"}, "top|bottom|initial|inherit|"},
    {{"clear"}, "none|left|right|both|initial|inherit|"},
    {{"clip"}, "auto|shape|initial|inherit|"},
    {{"column-fill"}, "balance|auto|initial|inherit|"},
    {{"column-span"}, "1|all|initial|inherit|"},
    {{"cursor"}, "alias|all-scroll|auto|cell|context-menu|col-resize|copy|crosshair|default|e-resize|ew-resize|grab|grabbing|help|move|n-resize|ne-resize|nesw-resize|ns-resize|nw-resize|nw-resize|nwse-resize|no-drop|none|not-allowed|pointer|progress|row-resize|s-resize|se-resize|sw-resize|text|URL|vertical-text|w-resize|wait|zoom-in|zoom-out|initial|inherit|"},
    {{"direction"}, "ltr|rtl|initial|inherit|"},
    {{"empty-cells"}, "show|hide|initial|inherit|"},
    {{"flex-direction"}, "row|row-reverse|column|column-reverse|initial|inherit|"},
    {{"flex-wrap"}, "nowrap|wrap|wrap-reverse|initial|inherit|"},
    {{"float"}, "none|left|right|initial|inherit|"},
    {{"font-stretch"}, "ultra-condensed|extra-condensed|condensed|semi-condensed|normal|semi-expanded|expanded|extra-expanded|ultra-expanded|initial|inherit|"},
    {{"font-style"}, "normal|italic|oblique|initial|inherit|"},
    {{"font-variant"}, "normal|small-caps|initial|inherit|"},
    {{"hanging-punctuation"}, "none|first|last|allow-end|force-end|initial|inherit|"},
    {{"icon"}, "auto|URL|initial|inherit|"},
    {{"justify-content"}, "flex-start|flex-end|center|space-between|space-around|initial|inherit|"},
    {{"list-style-position"}, "inside|outside|initial|inherit|"},
    {{"list-style-type"}, "disc|armenian|circle|cjk-ideographic|decimal|decimal-leading-zero|georgian|hebrew|hiragana|hiragana-iroha|katakana|katakana-iroha|lower-alpha|lower-greek|lower-latin|lower-roman|none|square|upper-alpha|upper-latin|upper-roman|initial|inherit|"},
    {{"nav-down", "nav-left", "nav-right", "nav-up"}, "auto|id|target-name|initial|inherit|"},
    {{"overflow", "overflow-x", "overflow-y"}, "visible|hidden|scroll|auto|initial|inherit|"},
    {{"page-break-after", "page-break-before"}, "auto|always|avoid|left|right|initial|inherit|"},
    {{"page-break-inside"}, "auto|avoid|initial|inherit|"},
    {{"position"}, "static|absolute|fixed|relative|initial|inherit|"},
    {{"resize"}, "none|both|horizontal|vertical|initial|inherit|"},
    {{"table-layout"}, "auto|fixed|initial|inherit|"},
    {{"text-align"}, "left|right|center|justify|initial|inherit|"},
    {{"text-align-last"}, "auto|left|right|center|justify|start|end|initial|inherit|"},
    {{"text-decoration", "text-decoration-line"}, "none|underline|overline|line-through|initial|inherit|"},
    {{"text-decoration-style"}, "solid|double|dotted|dashed|wavy|initial|inherit|"},
    {{"text-justify"}, "auto|inter-word|inter-ideograph|inter-cluster|distribute|kashida|trim|initial|inherit|"},
    {{"text-transform"}, "none|capitalize|uppercase|lowercase|initial|inherit|"},
    {{"transform"}, "none|transform-functions|initial|inherit|"},
    {{"transform-style"}, "flat|preserve-3d|initial|inherit|"},
    {{"unicode-bidi"}, "normal|embed|bidi-override|initial|inherit|"},
    {{"visibility"}, "visible|hidden|collapse|initial|inherit|"},
    {{"white-space"}, "normal|nowrap|pre|pre-line|pre-wrap|initial|inherit|"},
    {{"word-break"}, "normal|break-all|keep-all|initial|inherit|"},
    {{"word-wrap"}, "normal|break-word|initial|inherit|"},
};

template <std::size_t N>
void store(std::map<std::string, BRCSSPropertyFactory>& factories, const Row (&rows)[N],
           BRCSSPropertyRegistry* registry) {
    for (const Row& row : rows) {
        for (const char* name : row.names) {
            if (name != nullptr) {
                factories.insert_or_assign(name, BRCSSPropertyFactory(registry, name, row.grammar));
            }
        }
    }
}

}  // namespace

BRCSSPropertyRegistry::BRCSSPropertyRegistry() {
    store(propertyFactories, propertyRows, this);
    store(helperFactories, helperRows, this);
    markedProperties = {"border-top", "background", "box-shadow", "animation", "box-shadow", "transition"};
}

BRCSSPropertyRegistry::~BRCSSPropertyRegistry() = default;

bool BRCSSPropertyRegistry::hasProperty(const std::string& name) const {
    return propertyFactories.count(name) != 0;
}
