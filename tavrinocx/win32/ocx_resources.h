// Resource identifiers of TavrinOcx.dll (tavrinocx.rc).
#pragma once

#define kStringTypeName 1        /* "TavrinOcx Control" */
#define kStringPropPageName 2    /* "TavrinOcx Property Page" */
#define kStringPropPageCaption 200
#define kIconControl 1
#define kBitmapToolbox 1
#define kDialogAbout 100
#define kAboutIcon 101
#define kAboutVersion 102
#define kAboutNote 103
