/* The skin file format of our skin library.

   Offset  Size  Field
   0       4     signature "VSKN"
   4       2     format version (1)
   6       2     colour count n; at least SkinColourCount, later slots ignored
   8       4n    colours, each R, G, B and a zero byte, in the order below
   8+4n    2     caption font height in pixels (signed, as for CreateFont)
   +2      2     caption font weight
   +4      1     caption font character set
   +5      1     face length in UTF-16 units (1..31)
   +6      2*len face name, UTF-16 little endian

   All numbers are little endian. Bytes after the face are ignored.
   tools/make_skin.py reads the slot names from the enum below. */
#ifndef VELMORA_SKIN_FORMAT_H
#define VELMORA_SKIN_FORMAT_H

#define SKIN_SIGNATURE "VSKN"
#define SKIN_VERSION 1
#define SKIN_HEADER_BYTES 8
#define SKIN_FONT_BYTES 6
#define SKIN_MAX_FACE 31

enum SkinColour {
    SkinFrameOuter,
    SkinFrameInner,
    SkinCaptionTop,
    SkinCaptionBottom,
    SkinCaptionInactiveTop,
    SkinCaptionInactiveBottom,
    SkinCaptionText,
    SkinCaptionTextInactive,
    SkinCaptionAccent,
    SkinCaptionButtonHover,
    SkinCaptionButtonPressed,
    SkinCaptionCloseHover,
    SkinCaptionGlyph,
    SkinCaptionGlyphDisabled,
    SkinClient,
    SkinGroupLine,
    SkinButtonTop,
    SkinButtonBottom,
    SkinButtonHoverTop,
    SkinButtonHoverBottom,
    SkinButtonPressedTop,
    SkinButtonPressedBottom,
    SkinButtonBorder,
    SkinButtonDisabledFace,
    SkinButtonDisabledText,
    SkinCheckBorder,
    SkinCheckFace,
    SkinCheckHoverFace,
    SkinCheckPressedFace,
    SkinCheckMark,
    SkinCheckDisabledFace,
    SkinColourCount
};

#endif
