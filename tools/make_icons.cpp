// Draws the report's 18 input icons and writes them as PNG files.
//
//   make_icons DIR           writes DIR/NAME.png for every icon
//   make_icons --check DIR   exits 1 when the pixels of a file in DIR differ
//                            from what this program draws (names the files)
//
// The files are written through libpng with zlib's best compression. The
// check compares decoded pixels, not bytes: another zlib may compress the
// same pixels into other bytes, and what a report shows is the pixels.
//
// Every icon is drawn on a grid of 20 x 20 units, one unit being two pixels,
// so the 40 x 40 pixel images stay sharp on screens of double density when
// the stylesheet shows them 20 pixels wide. Each pixel is the average of
// 4 x 4 samples, which smooths the edges.
//
// The families tell themselves apart by shape and colour:
//   stick directions   a blue triangle pointing that way
//   pad directions     a grey cross with the pressed arm in orange
//   C buttons          a yellow disc with a small brown arrow
//   L and R            a violet shoulder tab, its outer top corner rounded
//   A, B               a green and a red disc with a white letter
//   S                  a pink rounded square with a white letter
//   Z                  a slate square with a white letter
#include "icons.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

constexpr unsigned grid_units = 20;
constexpr unsigned pixels_per_unit = 2;
constexpr unsigned samples_per_pixel = 4; // along each axis
constexpr unsigned icon_pixels = grid_units * pixels_per_unit;
constexpr double centre = grid_units / 2.0;
constexpr double outline = 1.0; // units

// One 8-bit RGBA pixel; its four bytes are what a PNG row holds for it.
struct rgba {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 0;
    friend bool operator==(const rgba&, const rgba&) = default;
};
static_assert(sizeof(rgba) == 4, "a pixel is four bytes in a row");

struct image {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<rgba> pixels; // row by row, top row first
};

struct point {
    double x;
    double y;
};

// The shapes an icon is made of, in grid units.
struct disc {
    point middle;
    double radius;
};

// Corner radii top left first, then clockwise.
struct box {
    point top_left;
    point bottom_right;
    std::array<double, 4> radii;
};

// Corners clockwise on the screen (y down); `inset` moves every edge inwards.
struct polygon {
    std::vector<point> corners;
    double inset = 0;
};

// A letter of the bitmap font below, centred on the grid.
struct letter {
    char name;
};

using shape = std::variant<disc, box, polygon, letter>;

// One colour over the union of its parts; later layers cover earlier ones.
struct layer {
    std::vector<shape> parts;
    rgba colour;
};

constexpr rgba opaque(unsigned hex)
{
    return {static_cast<std::uint8_t>(hex >> 16), static_cast<std::uint8_t>(hex >> 8), static_cast<std::uint8_t>(hex),
            255};
}

double squared_distance(point a, point b) { return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y); }

bool inside(const disc& d, point p) { return squared_distance(p, d.middle) < d.radius * d.radius; }

bool inside(const box& b, point p)
{
    const point low = b.top_left;
    const point high = b.bottom_right;
    if (p.x < low.x || p.x >= high.x || p.y < low.y || p.y >= high.y) {
        return false;
    }
    const bool near_left = p.x < (low.x + high.x) / 2;
    const bool near_top = p.y < (low.y + high.y) / 2;
    const double r = near_top ? (near_left ? b.radii[0] : b.radii[1]) : (near_left ? b.radii[3] : b.radii[2]);
    const point corner_centre = {near_left ? low.x + r : high.x - r, near_top ? low.y + r : high.y - r};
    const bool in_corner = (near_left ? p.x < corner_centre.x : p.x > corner_centre.x) &&
                           (near_top ? p.y < corner_centre.y : p.y > corner_centre.y);
    return !in_corner || squared_distance(p, corner_centre) < r * r;
}

bool inside(const polygon& poly, point p)
{
    const std::vector<point>& corners = poly.corners;
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const point a = corners[i];
        const point b = corners[(i + 1) % corners.size()];
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double cross = dx * (p.y - a.y) - dy * (p.x - a.x);
        if (cross < poly.inset * std::sqrt(dx * dx + dy * dy)) {
            return false;
        }
    }
    return true;
}

// Letters of 5 x 7 cells, each cell two units square.
constexpr unsigned glyph_columns = 5;
constexpr unsigned glyph_rows = 7;
constexpr double glyph_cell = 2.0;
using glyph = std::array<std::string_view, glyph_rows>;

glyph glyph_of(char name)
{
    switch (name) {
    case 'A':
        return {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"};
    case 'B':
        return {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."};
    case 'L':
        return {"#....", "#....", "#....", "#....", "#....", "#....", "#####"};
    case 'R':
        return {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"};
    case 'S':
        return {".####", "#....", "#....", ".###.", "....#", "....#", "####."};
    default: // 'Z'
        return {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"};
    }
}

bool inside(const letter& l, point p)
{
    const double left = centre - glyph_columns * glyph_cell / 2;
    const double top = centre - glyph_rows * glyph_cell / 2;
    if (p.x < left || p.y < top) {
        return false;
    }
    const auto column = static_cast<unsigned>((p.x - left) / glyph_cell);
    const auto row = static_cast<unsigned>((p.y - top) / glyph_cell);
    return column < glyph_columns && row < glyph_rows && glyph_of(l.name)[row][column] == '#';
}

bool inside(const layer& l, point p)
{
    return std::any_of(l.parts.begin(), l.parts.end(), [p](const shape& part) {
        return std::visit([p](const auto& s) { return inside(s, p); }, part);
    });
}

// A box shrunk by `inset` on every side, its radii with it.
box rounded_box(double left, double top, double right, double bottom, std::array<double, 4> radii, double inset = 0)
{
    for (double& r : radii) {
        r = r > inset ? r - inset : 0;
    }
    return {{left + inset, top + inset}, {right - inset, bottom - inset}, radii};
}

box even_box(double left, double top, double right, double bottom, double radius, double inset = 0)
{
    return rounded_box(left, top, right, bottom, {radius, radius, radius, radius}, inset);
}

// Turning clockwise about the grid's centre by `quarters` quarter turns: an
// upward shape turned once points right.
point turned(point p, int quarters)
{
    for (int i = 0; i < quarters; ++i) {
        p = {centre - (p.y - centre), centre + (p.x - centre)};
    }
    return p;
}

shape turned(const box& b, int quarters)
{
    const point a = turned(b.top_left, quarters);
    const point c = turned(b.bottom_right, quarters);
    std::array<double, 4> radii{};
    for (std::size_t i = 0; i < radii.size(); ++i) {
        radii[(i + static_cast<std::size_t>(quarters)) % radii.size()] = b.radii[i];
    }
    return box{{std::min(a.x, c.x), std::min(a.y, c.y)}, {std::max(a.x, c.x), std::max(a.y, c.y)}, radii};
}

shape turned(const polygon& poly, int quarters)
{
    polygon result = poly;
    for (point& corner : result.corners) {
        corner = turned(corner, quarters);
    }
    return result;
}

// Directions in the order of their quarter turns from upward.
struct direction {
    const char* suffix;
    int quarters;
};
constexpr std::array<direction, 4> directions = {{{"UP", 0}, {"RT", 1}, {"DN", 2}, {"LT", 3}}};

std::vector<layer> stick_arrow(int quarters)
{
    const std::vector<point> upward = {{10, 1}, {19, 17.5}, {1, 17.5}};
    return {{{turned(polygon{upward}, quarters)}, opaque(0x1E3A8A)},
            {{turned(polygon{upward, outline * 1.5}, quarters)}, opaque(0x3B82F6)}};
}

std::vector<layer> pad_arrow(int quarters)
{
    const double arm_near = 6.5;
    const double arm_far = 13.5;
    const double end_radius = 1.5;
    const box pressed_arm = even_box(arm_near + outline, 0.5 + outline, arm_far - outline, arm_near + 0.5, 0.5);
    return {{{even_box(arm_near, 0.5, arm_far, 19.5, end_radius), even_box(0.5, arm_near, 19.5, arm_far, end_radius)},
             opaque(0x334155)},
            {{even_box(arm_near, 0.5, arm_far, 19.5, end_radius, outline),
              even_box(0.5, arm_near, 19.5, arm_far, end_radius, outline)},
             opaque(0xCBD5E1)},
            {{turned(pressed_arm, quarters)}, opaque(0xF97316)},
            {{disc{{centre, centre}, 1.75}}, opaque(0x94A3B8)}};
}

constexpr double badge_radius = 9.75;

std::vector<layer> c_button(int quarters)
{
    const std::vector<point> small_upward = {{10, 4.75}, {15, 12.75}, {5, 12.75}};
    return {{{disc{{centre, centre}, badge_radius}}, opaque(0xA16207)},
            {{disc{{centre, centre}, badge_radius - outline}}, opaque(0xFACC15)},
            {{turned(polygon{small_upward}, quarters)}, opaque(0x713F12)}};
}

// A badge: an outlined shape in `fill` with a white letter.
std::vector<layer> badge(char name, const shape& outer, const shape& inner, unsigned edge, unsigned fill)
{
    return {{{outer}, opaque(edge)}, {{inner}, opaque(fill)}, {{letter{name}}, opaque(0xFFFFFF)}};
}

std::vector<layer> shoulder(char name, bool left_side)
{
    const double round = 7;
    const double square = 2;
    const std::array<double, 4> radii = left_side ? std::array<double, 4>{round, square, square, square}
                                                  : std::array<double, 4>{square, round, square, square};
    return badge(name, rounded_box(0.5, 1.5, 19.5, 18.5, radii), rounded_box(0.5, 1.5, 19.5, 18.5, radii, outline),
                 0x4C1D95, 0x7C3AED);
}

std::vector<layer> round_badge(char name, unsigned edge, unsigned fill)
{
    return badge(name, disc{{centre, centre}, badge_radius}, disc{{centre, centre}, badge_radius - outline}, edge,
                 fill);
}

std::vector<layer> square_badge(char name, double radius, unsigned edge, unsigned fill)
{
    return badge(name, even_box(0.5, 0.5, 19.5, 19.5, radius), even_box(0.5, 0.5, 19.5, 19.5, radius, outline), edge,
                 fill);
}

struct icon {
    std::string name;
    std::vector<layer> layers;
};

std::vector<icon> drawings()
{
    std::vector<icon> icons;
    for (const direction& d : directions) {
        icons.push_back({std::string("S") + d.suffix, stick_arrow(d.quarters)});
        icons.push_back({std::string("C") + d.suffix, c_button(d.quarters)});
        icons.push_back({d.suffix, pad_arrow(d.quarters)});
    }
    icons.push_back({"L", shoulder('L', true)});
    icons.push_back({"R", shoulder('R', false)});
    icons.push_back({"A", round_badge('A', 0x14532D, 0x16A34A)});
    icons.push_back({"B", round_badge('B', 0x7F1D1D, 0xDC2626)});
    icons.push_back({"S", square_badge('S', 6, 0x831843, 0xDB2777)});
    icons.push_back({"Z", square_badge('Z', 2.5, 0x1E293B, 0x64748B)});
    return icons;
}

// The icons the report shows, each with its drawing. Ends the program when
// the report names an icon without a drawing, or a drawing has no place in
// the report.
std::vector<icon> all_icons()
{
    std::vector<std::string_view> names(icons::stick_x.begin(), icons::stick_x.end());
    names.insert(names.end(), icons::stick_y.begin(), icons::stick_y.end());
    names.insert(names.end(), icons::c_buttons.begin(), icons::c_buttons.end());
    names.insert(names.end(), icons::main_buttons.begin(), icons::main_buttons.end());
    const std::vector<icon> drawn = drawings();
    std::vector<icon> shown;
    for (const std::string_view name : names) {
        const auto found = std::find_if(drawn.begin(), drawn.end(), [name](const icon& i) { return i.name == name; });
        if (found == drawn.end()) {
            std::fprintf(stderr, "make_icons: the report shows %.*s, which has no drawing\n",
                         static_cast<int>(name.size()), name.data());
            std::exit(1);
        }
        shown.push_back(*found);
    }
    if (shown.size() != drawn.size()) {
        std::fprintf(stderr, "make_icons: %zu drawings for %zu icons of the report\n", drawn.size(), shown.size());
        std::exit(1);
    }
    return shown;
}

// The colour of the topmost layer at a point; clear where there is none.
rgba colour_at(const std::vector<layer>& layers, double x, double y)
{
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (inside(*it, {x, y})) {
            return it->colour;
        }
    }
    return {};
}

// The average of the samples, weighted by their opacity so that clear
// samples do not darken the edges.
rgba pixel_at(const std::vector<layer>& layers, unsigned px, unsigned py)
{
    constexpr unsigned count = samples_per_pixel * samples_per_pixel;
    unsigned r = 0;
    unsigned g = 0;
    unsigned b = 0;
    unsigned a = 0;
    for (unsigned sy = 0; sy < samples_per_pixel; ++sy) {
        for (unsigned sx = 0; sx < samples_per_pixel; ++sx) {
            const double x = (px + (sx + 0.5) / samples_per_pixel) / pixels_per_unit;
            const double y = (py + (sy + 0.5) / samples_per_pixel) / pixels_per_unit;
            const rgba c = colour_at(layers, x, y);
            r += c.r * c.a;
            g += c.g * c.a;
            b += c.b * c.a;
            a += c.a;
        }
    }
    if (a == 0) {
        return {};
    }
    const auto mean = [a](unsigned weighted) { return static_cast<std::uint8_t>((weighted + a / 2) / a); };
    return {mean(r), mean(g), mean(b), static_cast<std::uint8_t>((a + count / 2) / count)};
}

image draw(const std::vector<layer>& layers)
{
    image picture{icon_pixels, icon_pixels, {}};
    for (unsigned py = 0; py < icon_pixels; ++py) {
        for (unsigned px = 0; px < icon_pixels; ++px) {
            picture.pixels.push_back(pixel_at(layers, px, py));
        }
    }
    return picture;
}

// libpng's output callback: appends to the string given as its io pointer.
void append_to_string(png_structp png, png_bytep data, std::size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void flush_nothing(png_structp /*png*/) {}

// Puts the PNG file of `picture` in `bytes`: 8-bit RGBA, zlib's best
// compression and every row unfiltered, which on these flat colours gives
// the smallest files of all libpng's filter choices (7,162 bytes for the 18
// icons, 9,986 with the next best). No chunk besides the image data (no
// time, no text), so the bytes depend on the pixels and the libraries alone.
// False when libpng fails: it reports errors by a long jump back here, and
// the output lives with the caller, so no local object changes after the
// jump point.
bool encode_png(const image& picture, std::string& bytes)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &bytes, append_to_string, flush_nothing);
    png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_set_compression_mem_level(png, 9);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    for (unsigned y = 0; y < picture.height; ++y) {
        png_write_row(png, reinterpret_cast<png_const_bytep>(&picture.pixels[std::size_t{y} * picture.width]));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Whether the PNG file `name` decodes to exactly the pixels of `picture`,
// as 8-bit RGBA without premultiplied alpha.
bool has_pixels_of(const std::string& name, const image& picture)
{
    png_image file{};
    file.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&file, name.c_str()) == 0) {
        return false;
    }
    if (file.width != picture.width || file.height != picture.height) {
        png_image_free(&file);
        return false;
    }
    file.format = PNG_FORMAT_RGBA;
    std::vector<rgba> pixels(picture.pixels.size());
    if (png_image_finish_read(&file, nullptr, pixels.data(), 0, nullptr) == 0) {
        png_image_free(&file);
        return false;
    }
    return pixels == picture.pixels;
}

bool write_file(const std::string& name, const std::string& bytes)
{
    std::ofstream out(name, std::ios::binary);
    out << bytes;
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_icons: cannot write %s\n", name.c_str());
        return false;
    }
    return true;
}

// Writes the icon's PNG file; says why when it cannot.
bool write_icon(const std::string& file, const image& picture)
{
    std::string bytes;
    if (!encode_png(picture, bytes)) {
        std::fprintf(stderr, "make_icons: libpng could not encode %s\n", file.c_str());
        return false;
    }
    return write_file(file, bytes);
}

} // namespace

int main(int argc, char** argv)
{
    const bool check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !check) {
        std::fputs("usage: make_icons DIR\n       make_icons --check DIR\n", stderr);
        return 2;
    }
    const std::string folder = argv[argc - 1];
    int status = 0;
    for (const icon& i : all_icons()) {
        const std::string file = folder + "/" + i.name + ".png";
        const image picture = draw(i.layers);
        if (check && !has_pixels_of(file, picture)) {
            std::fprintf(stderr, "make_icons: %s differs from the drawn icon; run make_icons %s\n", file.c_str(),
                         folder.c_str());
            status = 1;
        } else if (!check && !write_icon(file, picture)) {
            status = 1;
        }
    }
    return status;
}
