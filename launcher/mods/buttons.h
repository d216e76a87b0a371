// Button icons: the glyph sheets cut out of the mod's system files, kept as
// DDS textures in the data folder's "button_icons".
#pragma once

// Both "button_ps.dds" and "button_xb.dds" are there as files.
bool bb_present();
