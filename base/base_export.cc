// Anchor of the base library.
namespace base {
void BaseLibraryAnchor() {}
}  // namespace base
