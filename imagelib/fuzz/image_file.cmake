# Every input is read as each format the front end knows, so the seeds of
# the image-file library's formats are this harness's seeds too; its own
# folder holds the own TIFF files.
set(seeds corpus/image_file)
foreach(format alias art24 cineon gif jpeg pixar rla sgi sun symbolics targa tiff vertigo)
  list(APPEND seeds ${PROJECT_SOURCE_DIR}/imageio/fuzz/corpus/${format})
endforeach()
q4_fuzz_program(image_file SEEDS ${seeds})
