// Hash tables of the node search and of the four-threat search, sized and cleared together.
#pragma once

// Allocates the tables once and clears them when the board is built for another rule.
void prepareHashTables();
