// Screen: item selection, paging and drawing.
#ifndef SCREEN_SCREEN_H
#define SCREEN_SCREEN_H

// Repaints the whole terminal from the settings and the snapshot.
void draw_screen();

#endif
