// The table of picture cases and the loading of a description text.
#include "tests/turtle/picture_cases.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

const char* kindName(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Identical: return "identical";
    case PictureKind::Merged: return "merged";
    case PictureKind::Ink: return "ink";
    case PictureKind::Dense: return "dense";
    case PictureKind::Reference: return "reference";
    case PictureKind::Far: return "far";
    }
    return "?";
}

std::string exampleText(const char* file)
{
    std::ifstream in(std::string(TENDRILVIEW_EXAMPLES_DIR) + "/" + file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

// A walk of `letters` random F, + and - with a one-degree turn: a long chain of lines
// far below a pixel that wanders and crosses itself. The generator's output is fixed by
// the standard, so the word is the same everywhere.
std::string randomWalk(std::size_t letters)
{
    std::mt19937 random(20250917);
    std::string word(letters, 'F');
    for (char& c : word) c = "F+-"[random() % 3];
    return "n=0 d=1 delta=1 " + word;
}

}  // namespace

std::vector<PictureCase> pictureCases()
{
    using Kind = PictureKind;
    return {
        // The examples at their own n. Where no line continues another straight on, the
        // picture must not change at all.
        {"abop_1_24a", exampleText("abop-1.24a.lsys"), Kind::Identical},
        {"abop_1_24b", exampleText("abop-1.24b.lsys"), Kind::Identical},
        {"dragon_curve", exampleText("dragon-curve.lsys"), Kind::Identical},  // the dragon at n=10
        {"sierpinski_arrowhead", exampleText("sierpinski-arrowhead.lsys"), Kind::Identical},
        {"dragon_n16", "n=16 FX X->X+YF+ Y->-FX-Y", Kind::Identical},
        // FF in a rule, F + - F, Fl Fl, or an undrawn branch [+X] between two F: straight
        // chains of lines of several pixels.
        {"abop_1_24c", exampleText("abop-1.24c.lsys"), Kind::Merged},
        {"abop_1_24d", exampleText("abop-1.24d.lsys"), Kind::Merged},
        {"abop_1_24e", exampleText("abop-1.24e.lsys"), Kind::Merged},
        {"abop_1_24f", exampleText("abop-1.24f.lsys"), Kind::Merged},
        {"context_tree", exampleText("context-tree.lsys"), Kind::Merged},
        {"gosper_curve", exampleText("gosper-curve.lsys"), Kind::Merged},
        {"hilbert_curve", exampleText("hilbert-curve.lsys"), Kind::Merged},
        {"koch_island", exampleText("koch-island.lsys"), Kind::Merged},
        {"double_n8", "n=8 F F->FF", Kind::Merged},  // 256 lines of 2.1 pixels, one straight line
        // Lines far below a pixel.
        {"bush_n9", "n=9 delta=22.5 F F->F[+F]F[-F]F", Kind::Ink},               // 2 million lines
        {"bush_n11", "n=11 delta=22.5 F F->F[+F]F[-F]F", Kind::Ink, true},       // 48.8 million lines
        {"double_n18", "n=18 F F->FF", Kind::Ink, true},  // lines of 1/480 pixel
        {"double_n24", "n=24 F F->FF", Kind::Ink},        // 16.7 million lines
        {"dashed", "n=17 F F->FfF", Kind::Ink},           // F and f alternating, 1/480 pixel each
        // About 667,000 lines of 1/130 pixel that turn by a degree at almost every step:
        // the reference's butt-ended slices fan out on the outer side of every bend and
        // leave about half of it uncovered, where coverage follows the path as a pen does.
        {"random_walk", randomWalk(2'000'000), Kind::Ink, false, 0.25},
        // Space-filling curves of sub-pixel steps, about a million lines each.
        {"koch_island_n6", "n=6 F-F-F-F F->F-F+F+FF-F-F+F", Kind::Dense},
        {"hilbert_n10", "n=10 A A->+BF-AFA-FB+ B->-AF+BFB+FA-", Kind::Dense},
        {"dragon_n20", "n=20 FX X->X+YF+ Y->-FX-Y", Kind::Dense, true},
        // Each family dense, held to the reference itself.
        {"hilbert_n10_reference", "n=10 A A->+BF-AFA-FB+ B->-AF+BFB+FA-", Kind::Reference, true},
        {"gosper_n7", "n=7 delta=60 Fl Fl->Fl+Fr++Fr-Fl--FlFl-Fr+ Fr->-Fl+FrFr++Fr+Fl--Fl-Fr", Kind::Reference,
         true},
        {"sierpinski_arrowhead_n14", "n=14 delta=60 YF X->YF+XF+Y Y->XF-YF-X", Kind::Reference, true},
        {"bush_n10", "n=10 delta=22.5 F F->F[+F]F[-F]F", Kind::Reference, true},
        {"dragon_n22", "n=22 FX X->X+YF+ Y->-FX-Y", Kind::Reference},
        {"koch_island_n7", "n=7 F-F-F-F F->F-F+F+FF-F-F+F", Kind::Reference},
        {"peano_n6", "n=6 X X->XFYFX+F+YFXFY-F-XFYFX Y->YFXFY-F-XFYFX+F+YFXFY", Kind::Reference},
        // examples/context-tree.lsys grown until a segment is a 64th of a pixel.
        {"context_tree_n16", "n=16 delta=25 F[+F][-F] [<+F>]->+F[+F][-F] [<-F>]->-F[+F][-F] F->FF",
         Kind::Reference, true},
        // A square gone round 15,625 times, drifting by rounding: lines of hundreds of
        // pixels, most of them past the share that OpenGL draws.
        {"square_again_n7", "n=7 F F->F+F+F+F+F", Kind::Dense, true},
        // A unit square 2^21 and 2^17 units above the start point.
        {"far_square_2_21", "n=21 fF+F+F+F f->ff", Kind::Far, true},
        {"far_square_2_17", "n=17 fF+F+F+F f->ff", Kind::Far},
    };
}

void loadDescription(LSystem& lsystem, const std::string& text)
{
    // The reader takes a path: the text goes through a file of this process's own, so
    // that tests running side by side don't share it.
    std::string path = (std::filesystem::temp_directory_path() / "tendrilview_picture_XXXXXX").string();
    const int file = mkstemp(path.data());
    if (file < 0) return;  // the word stays empty, and the caller sees it
    const bool written = write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(file);
    if (written) {
        lsystem.readDescription(path.c_str());
        lsystem.produce();
    }
    std::remove(path.c_str());
}
