; plug-in-tessaform-path: the quadrangles come from a path's anchors. Every
; result is compared byte for byte with plug-in-tessaform given the same
; corners; wrong shapes are refused and leave the image as it was.

(define e2e-dst-quad '((20 4) (36 8) (34 26) (18 22)))
(define e2e-src-quad '((4 3) (15 4) (16 12) (3 11)))

(define (path-image)
  (let* ((im (make-image 40 30 RGBA-IMAGE 16 12 3 2 #f)))
    (fill-drawable (cadr im) 4 (pattern-value 4) #f)
    im))

(define (warp-path mode image layer path interpolation aa)
  (set! e2e-call-start (e2e-ms))
  (let ((answer (plug-in-tessaform-path mode image layer path interpolation aa)))
    (e2e-call-done)
    (car answer)))

; The path procedure's layer against plug-in-tessaform's with src and dst;
; both layers are removed again.
(define (check-same-as-main name image layer path src dst interpolation)
  (let* ((mine (warp-path RUN-NONINTERACTIVE image layer path interpolation 0))
         (position (car (gimp-image-get-item-position image mine)))
         (got (layer-facts mine)))
    (gimp-image-remove-layer image mine)
    (let* ((main (tessaform image layer src dst interpolation))
           (want (layer-facts main)))
      (gimp-image-remove-layer image main)
      (check (string-append name ": placed directly above the drawable")
             (car (gimp-image-get-item-position image layer)) position)
      (check (string-append name ": offsets, size, type, name and bytes as plug-in-tessaform")
             want got))))

(define (e2e-cases)
  (group "path as GIMP stores it"
    (lambda ()
      (let* ((im (path-image)) (image (car im))
             (path (make-path image (list e2e-dst-quad)))
             (stroke (vector-ref (cadr (gimp-vectors-get-strokes path)) 0))
             (points (gimp-vectors-stroke-get-points path stroke)))
        ; handle, anchor, handle for each anchor, as the plug-in reads them
        (check "Bezier stroke (type 0)" 0 (car points))
        (check "points read back as written" (stroke-points e2e-dst-quad)
               (vector->list (caddr points))))))

  (group "one stroke of 4: the whole layer"
    (lambda ()
      (let* ((im (path-image)) (image (car im)) (layer (cadr im)))
        (check-same-as-main "cubic" image layer (make-path image (list e2e-dst-quad))
                            (rect 3 2 19 14) e2e-dst-quad 2))))

  (group "one stroke of 4 drawn as curves"
    (lambda ()
      ; GIMP places the handles itself here.
      (let* ((im (path-image)) (image (car im)) (layer (cadr im))
             (path (car (gimp-vectors-new image "curves")))
             (a e2e-dst-quad))
        (gimp-image-insert-vectors image path 0 -1)
        (let ((stroke (car (gimp-vectors-bezier-stroke-new-moveto path 20 4))))
          (gimp-vectors-bezier-stroke-cubicto path stroke 25 1 31 13 36 8)
          (gimp-vectors-bezier-stroke-cubicto path stroke 40 12 30 20 34 26)
          (gimp-vectors-bezier-stroke-cubicto path stroke 28 29 15 20 18 22))
        (check-same-as-main "bilinear" image layer path (rect 3 2 19 14) a 1))))

  (group "two strokes of 4"
    (lambda ()
      (let* ((im (path-image)) (image (car im)) (layer (cadr im)))
        (check-same-as-main "nearest" image layer
                            (make-path image (list e2e-src-quad e2e-dst-quad))
                            e2e-src-quad e2e-dst-quad 0))))

  (group "one stroke of 8"
    (lambda ()
      (let* ((im (path-image)) (image (car im)) (layer (cadr im)))
        (check-same-as-main "Lanczos" image layer
                            (make-path image (list (append e2e-src-quad e2e-dst-quad)))
                            e2e-src-quad e2e-dst-quad 3))))

  (group "wrong shapes are refused"
    (lambda ()
      (let* ((im (path-image)) (image (car im)) (layer (cadr im))
             (pixels (layer-facts layer)))
        (for-each
         (lambda (name strokes)
           (check-refused name image
                          (lambda ()
                            (warp-path RUN-NONINTERACTIVE image layer
                                       (make-path image strokes) 1 0))))
         (list "empty path" "3 anchors" "5 anchors" "three strokes")
         (list '() (list (reverse (cdr (reverse e2e-dst-quad))))
               (list (append e2e-dst-quad '((0 0))))
               (list e2e-dst-quad e2e-dst-quad e2e-dst-quad)))
        (check "no path: refused" #f
               (catch #f (warp-path RUN-NONINTERACTIVE image layer -1 1 0)))
        (e2e-call-done)
        (check "the drawable unchanged" pixels (layer-facts layer)))))

  (group "interactive without a display"
    (lambda ()
      (let* ((im (path-image)) (image (car im)) (layer (cadr im))
             (path (make-path image (list e2e-dst-quad)))
             (before (layers-of image)))
        (gimp-image-set-active-vectors image path)
        ; An execution error (scripts/e2e.sh looks for its message), not a
        ; crash of the plug-in.
        (check "refused" #f
               (catch #f (warp-path RUN-INTERACTIVE image layer path 1 0)))
        (e2e-call-done)
        (check "no layer added" before (layers-of image)))))

  (group "last values"
    (lambda ()
      (let* ((im (path-image)) (image (car im)) (layer (cadr im))
             (path (make-path image (list e2e-dst-quad)))
             (first (warp-path RUN-NONINTERACTIVE image layer path 3 0))
             (want (layer-facts first)))
        (gimp-image-remove-layer image first)
        ; The interpolation given here is not used: the last call's is.
        (let ((again (warp-path RUN-WITH-LAST-VALS image layer path 0 1)))
          (check "renders with the last call's settings" want (layer-facts again))))))

  (group "registration"
    (lambda ()
      (let ((info (gimp-procedural-db-proc-info "plug-in-tessaform-path")))
        (check "blurb" "Warp the layer onto a quadrangle drawn as a path" (list-ref info 0))
        (check "procedure type (GIMP_PLUGIN)" 1 (list-ref info 5))
        (check "6 parameters, 1 return value" '(6 1) (list (list-ref info 6) (list-ref info 7))))
      (check "parameters"
             '((0 "run-mode") (13 "image") (16 "drawable") (19 "path")
               (0 "interpolation") (0 "anti-aliasing"))
             (map (lambda (i)
                    (let ((a (gimp-procedural-db-proc-arg "plug-in-tessaform-path" i)))
                      (list (car a) (cadr a))))
                  (iota 6)))
      (check "return value: the new layer's ID" '(0 "new-layer" "new Layer ID")
             (gimp-procedural-db-proc-val "plug-in-tessaform-path" 0)))))
