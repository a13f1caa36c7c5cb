// Version of the add-in build, for diagnostics.
namespace linkbay {
extern const char kBuildVersion[];
const char kBuildVersion[] = "0.1.0";
}  // namespace linkbay
