# The last good build of a tree, as ./vantrel build and the device's commands record and check it:
# a stamp from the moment it started, and beside it the list of every file and folder it was
# built from (a folder's time moves when a file is added to it or removed). Sourced; needs ROOT
# and BUILD.
STAMP="$BUILD/vantrel-built.stamp"
SOURCES="$BUILD/vantrel-sources"

# True when the tree's programs are there and nothing its sources list names is newer than the
# stamp. It runs before every device command: vantrel-fresh does in 1 ms what a loop of bash's
# tests did in 2.5.
built_fresh() {
    [[ -x $BUILD/bin/vantrel-fresh && -x $BUILD/bin/vantrel-device && -x $BUILD/bin/vantrel-springboard &&
        -x $BUILD/bin/vantrel-settings && -x $BUILD/bin/vantrel-view ]] &&
        "$BUILD/bin/vantrel-fresh" "$ROOT" "$SOURCES" "$STAMP" 2>/dev/null
}

# Before a build: the stamp and the list as they are now, so an edit made while it runs still
# counts as newer. After it: they stand for the build, or are dropped when it failed.
begin_build() {
    local was_globstar=0
    shopt -q globstar && was_globstar=1
    shopt -s globstar
    build_stamp="$(mktemp "$BUILD/.vantrel-build.XXXXXX")"
    printf '%s\n' "$ROOT" "$ROOT/CMakeLists.txt" "$ROOT/version.h.in" "$BUILD/CMakeCache.txt" \
        "$ROOT"/{platform,shared,tweak,prefs,packaging,sim} "$ROOT"/{platform,shared,tweak,prefs,packaging,sim}/** \
        > "$build_stamp.sources"
    [ $was_globstar -eq 1 ] || shopt -u globstar
}
end_build() {
    if [ "$1" -eq 0 ]; then
        mv -f "$build_stamp.sources" "$SOURCES"
        mv -f "$build_stamp" "$STAMP"
    else
        rm -f "$build_stamp" "$build_stamp.sources"
    fi
}
