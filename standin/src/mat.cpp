// libmat of the stand-in host. MEX modules built for MATLAB list the
// MAT-file library among their needed libraries whether or not they read
// MAT-files; this empty library satisfies that entry. It defines nothing.
