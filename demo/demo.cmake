# The demo application (included by the top-level CMakeLists.txt): its C# sources compiled by Mono's
# compiler (mcs) into the content folder that the launcher carries as its pack, beside demo/content's files.
find_program(CORVANE_MCS mcs REQUIRED)

# Built without a corlib, mcs gives an assembly the metadata version that --runtime names; assemblies
# compiled against it take the version of their corlib. So the demo gets v2.0.50727 and binds to
# mscorlib 2.0.0.0: it runs on CLR 2.0 and later, the launcher's minimum.
set(reference_corlib ${CMAKE_BINARY_DIR}/demo/reference/mscorlib.dll)
add_custom_command(OUTPUT ${reference_corlib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/demo/reference
    COMMAND ${CORVANE_MCS} --runtime:v2 -nostdlib -noconfig -nowarn:660,661 -target:library -delaysign+
            -keyfile:${CMAKE_CURRENT_LIST_DIR}/reference/mscorlib.pub -out:${reference_corlib}
            ${CMAKE_CURRENT_LIST_DIR}/reference/mscorlib.cs
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/reference/mscorlib.cs ${CMAKE_CURRENT_LIST_DIR}/reference/mscorlib.pub
    COMMENT "Compiling the demo's reference mscorlib 2.0")

file(GLOB_RECURSE data_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/content/*)
file(GLOB shell_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/shell/*.cs)
file(GLOB core_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/standalone/*.cs)
set(shell ${CORVANE_CONTENT_DIR}/bin/Skarnveld.Platform.Quorvelin.UI.Shell.dll)
set(core ${CORVANE_CONTENT_DIR}/${CORVANE_ENTRY_ASSEMBLY}.dll)
set(csharp ${CORVANE_MCS} -nostdlib -noconfig -r:${reference_corlib} -target:library -warnaserror+)
set(stamp ${CMAKE_BINARY_DIR}/demo/content.stamp)
# The folder is made anew each time, so that nothing removed from demo/ lingers in the pack.
add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CORVANE_CONTENT_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_LIST_DIR}/content ${CORVANE_CONTENT_DIR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANE_CONTENT_DIR}/bin
    COMMAND ${csharp} -out:${shell} ${shell_sources}
    COMMAND ${csharp} -r:${shell} -out:${core} ${core_sources}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${reference_corlib} ${data_files} ${shell_sources} ${core_sources}
    COMMENT "Building the demo application into ${CORVANE_CONTENT_DIR}")
add_custom_target(corvane_demo DEPENDS ${stamp})
set(CORVANE_CONTENT_FILES ${stamp})
