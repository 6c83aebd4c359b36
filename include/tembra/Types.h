#ifndef TEMBRA_TYPES_H
#define TEMBRA_TYPES_H

// Enumerations and the tiled-variable record shared by several classes.
// Every enumeration has a fixed underlying type: a value outside the
// enumerators, set by a subclass or read from a file, is then well defined
// and reaches the "Unknown ..." reports.
namespace Types {

// How a tiled variable behaves at its bounds.
enum TILE_TYPE : int { CIRCLE = 0, CLIP = 1, WRAP = 2 };

// Where eligibility traces are kept: an ordered map from weight index to
// trace (sparse, the default), an array parallel to the weights, or the
// traced indices in a flat list with an index-to-slot table beside it
// (sparse and fast: the same results as MAP, one int per weight more).
enum TRACE_STORAGE : int { MAP = 0, ARRAY = 1, SPARSE = 2 };

// One tiled variable of a tilings group. In files it is a 16-byte record
// (id int32, resolution float64, tileType int32), written field by field.
struct TILINGS_VAR_STRUCT {
    int id;
    double resolution;
    TILE_TYPE tileType;
};

}  // namespace Types

#endif
