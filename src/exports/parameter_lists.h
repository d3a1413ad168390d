// What a row of the entry point table (exports/entry_point_table.h) makes of
// its parameters, the (type, name) pairs at its end: the C declarations, the
// arguments passed on, the names the log prints, the arguments picked out of
// a struct by name.
#pragma once

// Applies `each` to every (type, name) pair. Each step of the walk is put off
// to the next rescan, of which TARVEX_RESCAN gives sixteen: more than the
// eight parameters an entry point has at most.
#define TARVEX_FOR_EACH(each, ...) \
  __VA_OPT__(TARVEX_RESCAN(TARVEX_FOR_EACH_STEP(each, __VA_ARGS__)))
#define TARVEX_FOR_EACH_STEP(each, pair, ...) \
  each pair __VA_OPT__(TARVEX_FOR_EACH_AGAIN TARVEX_PARENS(each, __VA_ARGS__))
#define TARVEX_FOR_EACH_AGAIN() TARVEX_FOR_EACH_STEP
#define TARVEX_PARENS ()
#define TARVEX_RESCAN(...) TARVEX_RESCAN4(TARVEX_RESCAN4(TARVEX_RESCAN4(TARVEX_RESCAN4(__VA_ARGS__))))
#define TARVEX_RESCAN4(...) TARVEX_RESCAN1(TARVEX_RESCAN1(TARVEX_RESCAN1(TARVEX_RESCAN1(__VA_ARGS__))))
#define TARVEX_RESCAN1(...) __VA_ARGS__

// The walks below put a comma before every item; a list drops the first.
#define TARVEX_DROP_FIRST(...) TARVEX_DROP_FIRST_OF(__VA_ARGS__)
#define TARVEX_DROP_FIRST_OF(first, ...) __VA_ARGS__

// `int32_t n, uint8_t* frame`
#define TARVEX_PARAMETERS(...) TARVEX_DROP_FIRST(TARVEX_FOR_EACH(TARVEX_DECLARED, __VA_ARGS__))
#define TARVEX_DECLARED(type, name) , type name

// `, n, frame`: the arguments passed on, behind what goes before them.
#define TARVEX_FORWARDED(...) TARVEX_FOR_EACH(TARVEX_FORWARDED_ONE, __VA_ARGS__)
#define TARVEX_FORWARDED_ONE(type, name) , name

// `"n frame "`: the names, each followed by a space.
#define TARVEX_PARAMETER_NAMES(...) "" TARVEX_FOR_EACH(TARVEX_NAME_OF, __VA_ARGS__)
#define TARVEX_NAME_OF(type, name) #name " "

// `, arguments.n, arguments.frame`: the members of that name of a struct
// named `arguments`.
#define TARVEX_PICKED(...) TARVEX_FOR_EACH(TARVEX_PICKED_ONE, __VA_ARGS__)
#define TARVEX_PICKED_ONE(type, name) , arguments.name
