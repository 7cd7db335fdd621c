% fisher_demo_test (demo, output_dir): the demo runs headless, converges to
% the eigenvalue bound and writes its plot as a PNG file into output_dir.
function fisher_demo_test (demo, output_dir)
  plot_file = fullfile (output_dir, "fisher_convergence.png");
  if (exist (plot_file, "file"))
    delete (plot_file);
  end
  source (demo);
  % The last row of the table, the longest run: at the bound to rounding.
  assert (gap < 1e-12, "relative gap %g after %d iterations", gap, counts(end));
  % The trace agrees with the table: r(end) is the ratio at the returned x.
  assert (abs (r(end) - ratio (x)) <= 1e-12 * abs (lambda));
  fid = fopen (plot_file, "r");
  assert (fid >= 0, "no plot written to %s", plot_file);
  signature = fread (fid, 8, "uint8")';
  fclose (fid);
  assert (isequal (signature, [137 80 78 71 13 10 26 10]), "%s is not a PNG file", plot_file);
  % The curve is drawn in the first line colour of the default colour order,
  % RGB (0, 114, 189), from the left axis across much of the plot: a trace
  % lost on the way (all NaN) would leave only the legend's short sample.
  img = double (imread (plot_file));
  [~, column] = find (abs (img(:,:,1)) + abs (img(:,:,2) - 114) + abs (img(:,:,3) - 189) < 60);
  assert (numel (column) > 200 && max (column) - min (column) > columns (img) / 3,
          "%s: no convergence curve (%d pixels of its colour)", plot_file, numel (column));
  printf ("demo: gap %.1e, %s: %dx%d, curve over columns %d to %d\n", gap, plot_file,
          columns (img), rows (img), min (column), max (column));
end
